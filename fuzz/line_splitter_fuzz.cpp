// A program's output, cut into chunks anywhere: the lines must not depend on where the
// chunks were cut, must be valid UTF-8 and must hold no line breaks.

#include "text/utf8.h"
#include "tools/line_splitter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> split(std::string_view bytes, std::size_t chunk) {
    std::vector<std::string> lines;
    lumatra::LineSplitter splitter([&](std::string&& line) { lines.push_back(std::move(line)); },
                                   256);
    for (std::size_t at = 0; at < bytes.size(); at += chunk)
        splitter.feed(bytes.substr(at, chunk));
    splitter.finish();
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t chunk = 1 + data[0] % 16;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto whole = split(bytes, bytes.size() + 1);
    if (split(bytes, chunk) != whole) std::abort();
    for (const auto& line : whole) {
        if (line.empty() || line.find_first_of("\r\n") != std::string::npos) std::abort();
        if (!lumatra::utf8::isValid(line)) std::abort();
    }
    return 0;
}
