#pragma once
// Binary property lists built byte by byte, for the readers' tests.

#include <cstddef>
#include <string>
#include <vector>

namespace lumatra::test {

/// A binary property list from encoded objects; object 0 is the top. Offsets are four
/// bytes wide, object references `refSize` bytes.
inline std::string binaryPlist(const std::vector<std::string>& objects, int refSize = 1) {
    std::string out = "bplist00";
    std::vector<std::size_t> offsets;
    for (const std::string& object : objects) {
        offsets.push_back(out.size());
        out += object;
    }
    const std::size_t table = out.size();
    for (const std::size_t offset : offsets)
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<char>(offset >> shift));
    std::string trailer(32, '\0');
    trailer[6] = 4; // offset size
    trailer[7] = static_cast<char>(refSize);
    for (int i = 0; i < 8; ++i) {
        trailer[8 + i] = static_cast<char>(objects.size() >> (56 - 8 * i));
        trailer[24 + i] = static_cast<char>(table >> (56 - 8 * i));
    }
    return out + trailer;
}

/// A binary property list's ASCII string object of fewer than 15 characters.
inline std::string ascii(const std::string& text) {
    return static_cast<char>(0x50 | text.size()) + text;
}

} // namespace lumatra::test
