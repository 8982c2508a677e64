// The ICO and ICNS readers on arbitrary bytes: finding the largest entry and decoding a
// Windows bitmap entry must never read outside the file, and what they return must lie
// inside it.
#include "formats/convert_error.h"
#include "image/icon_container.h"

#include <cstdint>
#include <cstdlib>

namespace {

void checkInside(const lumatra::IconEntry& entry, std::string_view file) {
    if (entry.bytes.data() < file.data() ||
        entry.bytes.data() + entry.bytes.size() > file.data() + file.size())
        std::abort();
    if (entry.width <= 0 || entry.height <= 0) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    try {
        const lumatra::IconEntry entry = lumatra::IconContainer::largestIcoEntry(file);
        checkInside(entry, file);
        if (entry.encoding == lumatra::IconEntry::Encoding::dib) {
            const lumatra::RgbaPixels pixels = lumatra::IconContainer::decodeDib(entry.bytes);
            if (pixels.bytes.size() != static_cast<std::size_t>(pixels.width) * pixels.height * 4)
                std::abort();
        }
    } catch (const lumatra::ConvertError&) {
    }
    try {
        checkInside(lumatra::IconContainer::largestIcnsEntry(file), file);
    } catch (const lumatra::ConvertError&) {
    }
    try {
        lumatra::IconContainer::decodeDib(file);
    } catch (const lumatra::ConvertError&) {
    }
    return 0;
}
