#include "image/icon_container.h"

#include "formats/convert_error.h"

#include <array>
#include <cstring>

namespace lumatra {
namespace {

// Windows bitmap entries are small by nature (the directory cannot even say more than
// 256); anything far beyond is not an icon, and bounding it keeps the decoding cheap.
constexpr int maxDibSide = 1024;
// An ICNS file lists a dozen entries; a few thousand is already absurd.
constexpr int maxIcnsEntries = 4096;

[[noreturn]] void unreadable() {
    throw ConvertError::failed("Не удалось открыть изображение");
}

std::uint32_t le16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint8_t>(bytes[at]) | static_cast<std::uint8_t>(bytes[at + 1]) << 8;
}

std::uint32_t le32(std::string_view bytes, std::size_t at) {
    return le16(bytes, at) | le16(bytes, at + 2) << 16;
}

std::uint32_t be32(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

void putLe16(std::string& out, std::uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8 & 0xFF);
}

void putLe32(std::string& out, std::uint32_t value) {
    putLe16(out, value & 0xFFFF);
    putLe16(out, value >> 16);
}

void putBe32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>(value >> shift & 0xFF);
}

constexpr std::string_view pngSignature("\x89PNG\r\n\x1A\n", 8);

bool isPng(std::string_view bytes) {
    return bytes.starts_with(pngSignature);
}

bool isJpeg2000(std::string_view bytes) {
    static constexpr std::string_view box("\0\0\0\x0CjP  \r\n\x87\n", 12);
    static constexpr std::string_view codestream("\xFF\x4F\xFF\x51", 4);
    return bytes.starts_with(box) || bytes.starts_with(codestream);
}

// The size a PNG's header declares; 0 when the header is cut short.
std::pair<int, int> pngSize(std::string_view png) {
    if (png.size() < 24 || png.substr(12, 4) != "IHDR") return {0, 0};
    const auto width = be32(png, 16);
    const auto height = be32(png, 20);
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF) return {0, 0};
    return {static_cast<int>(width), static_cast<int>(height)};
}

// Pixel sides of the ICNS types that may hold a PNG or JPEG 2000 picture.
int icnsSide(std::string_view type) {
    struct Slot {
        std::string_view type;
        int side;
    };
    static constexpr std::array<Slot, 14> slots{{{"icp4", 16},
                                                 {"icp5", 32},
                                                 {"icp6", 64},
                                                 {"ic07", 128},
                                                 {"ic08", 256},
                                                 {"ic09", 512},
                                                 {"ic10", 1024},
                                                 {"ic11", 32},
                                                 {"ic12", 64},
                                                 {"ic13", 256},
                                                 {"ic14", 512},
                                                 {"ic04", 16},
                                                 {"ic05", 32},
                                                 {"icsb", 18}}};
    for (const Slot& slot : slots)
        if (slot.type == type) return slot.side;
    return 0;
}

std::string_view icnsType(int side) {
    switch (side) {
    case 16:
        return "icp4";
    case 32:
        return "icp5";
    case 64:
        return "icp6";
    case 128:
        return "ic07";
    case 256:
        return "ic08";
    case 512:
        return "ic09";
    case 1024:
        return "ic10";
    }
    return {};
}

bool larger(const IconEntry& candidate, const IconEntry& best) {
    return static_cast<std::int64_t>(candidate.width) * candidate.height >
           static_cast<std::int64_t>(best.width) * best.height;
}

} // namespace

IconEntry IconContainer::largestIcoEntry(std::string_view file) {
    if (file.size() < 6 || le16(file, 0) != 0) unreadable();
    const auto type = le16(file, 2);
    const auto count = le16(file, 4);
    if ((type != 1 && type != 2) || count == 0 || 6 + 16 * std::size_t{count} > file.size())
        unreadable();
    IconEntry best;
    bool found = false;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = 6 + 16 * i;
        const std::size_t size = le32(file, at + 8);
        const std::size_t offset = le32(file, at + 12);
        if (offset > file.size() || size > file.size() - offset || size < 8) continue;
        IconEntry entry;
        entry.bytes = file.substr(offset, size);
        if (isPng(entry.bytes)) {
            entry.encoding = IconEntry::Encoding::png;
            std::tie(entry.width, entry.height) = pngSize(entry.bytes);
        } else {
            if (size < 40) continue;
            entry.encoding = IconEntry::Encoding::dib;
            const auto width = static_cast<std::int32_t>(le32(entry.bytes, 4));
            const auto height = static_cast<std::int32_t>(le32(entry.bytes, 8)) / 2;
            if (width <= 0 || height <= 0 || width > maxDibSide || height > maxDibSide) continue;
            entry.width = width;
            entry.height = height;
        }
        if (entry.width <= 0 || entry.height <= 0) continue;
        if (!found || larger(entry, best)) best = entry;
        found = true;
    }
    if (!found) unreadable();
    return best;
}

IconEntry IconContainer::largestIcnsEntry(std::string_view file) {
    if (file.size() < 8 || file.substr(0, 4) != "icns") unreadable();
    // The declared length may not exceed what is there; a shorter one ends the walk.
    const std::size_t end = std::min<std::size_t>(be32(file, 4), file.size());
    IconEntry best;
    bool found = false;
    int entries = 0;
    for (std::size_t at = 8; at + 8 <= end && entries < maxIcnsEntries; ++entries) {
        const std::string_view type = file.substr(at, 4);
        const std::size_t length = be32(file, at + 4);
        if (length < 8 || length > end - at) break;
        IconEntry entry;
        entry.bytes = file.substr(at + 8, length - 8);
        at += length;
        if (isPng(entry.bytes)) {
            entry.encoding = IconEntry::Encoding::png;
            std::tie(entry.width, entry.height) = pngSize(entry.bytes);
        } else if (isJpeg2000(entry.bytes)) {
            entry.encoding = IconEntry::Encoding::jpeg2000;
            entry.width = entry.height = icnsSide(type);
        } else {
            continue;
        }
        if (entry.width <= 0 || entry.height <= 0) continue;
        if (!found || larger(entry, best)) best = entry;
        found = true;
    }
    if (!found) unreadable();
    return best;
}

RgbaPixels IconContainer::decodeDib(std::string_view dib) {
    if (dib.size() < 40) unreadable();
    const std::size_t headerSize = le32(dib, 0);
    const auto width = static_cast<std::int32_t>(le32(dib, 4));
    // The height counts the colour rows and the mask rows together.
    const auto height = static_cast<std::int32_t>(le32(dib, 8)) / 2;
    const auto bits = le16(dib, 14);
    const auto compression = le32(dib, 16);
    std::size_t colours = le32(dib, 32);
    if (headerSize < 40 || headerSize > dib.size() || width <= 0 || height <= 0 ||
        width > maxDibSide || height > maxDibSide || compression != 0)
        unreadable();
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) unreadable();
    if (bits > 8)
        colours = 0;
    else if (colours == 0 || colours > (std::size_t{1} << bits))
        colours = std::size_t{1} << bits;

    const std::size_t paletteAt = headerSize;
    const std::size_t pixelsAt = paletteAt + 4 * colours;
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    const std::size_t stride = (w * bits + 31) / 32 * 4;
    const std::size_t maskStride = (w + 31) / 32 * 4;
    const std::size_t maskAt = pixelsAt + stride * h;
    if (pixelsAt > dib.size() || maskAt > dib.size()) unreadable();
    // Some writers leave the mask out; the picture is then opaque.
    const bool hasMask = maskAt + maskStride * h <= dib.size();

    RgbaPixels out;
    out.width = width;
    out.height = height;
    out.bytes.resize(w * h * 4);
    bool anyAlpha = false;
    for (std::size_t row = 0; row < h; ++row) {
        // Rows are stored bottom first.
        const std::string_view line = dib.substr(pixelsAt + (h - 1 - row) * stride, stride);
        std::uint8_t* target = out.bytes.data() + row * w * 4;
        for (std::size_t x = 0; x < w; ++x, target += 4) {
            std::uint32_t b = 0, g = 0, r = 0, a = 255;
            if (bits >= 24) {
                const std::size_t at = x * (bits / 8);
                b = static_cast<std::uint8_t>(line[at]);
                g = static_cast<std::uint8_t>(line[at + 1]);
                r = static_cast<std::uint8_t>(line[at + 2]);
                if (bits == 32) a = static_cast<std::uint8_t>(line[at + 3]);
            } else {
                const std::size_t bit = x * bits;
                const auto byte = static_cast<std::uint8_t>(line[bit / 8]);
                const std::size_t index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                if (index < colours && paletteAt + 4 * index + 3 < dib.size()) {
                    b = static_cast<std::uint8_t>(dib[paletteAt + 4 * index]);
                    g = static_cast<std::uint8_t>(dib[paletteAt + 4 * index + 1]);
                    r = static_cast<std::uint8_t>(dib[paletteAt + 4 * index + 2]);
                }
            }
            anyAlpha = anyAlpha || (bits == 32 && a != 0);
            target[0] = static_cast<std::uint8_t>(r);
            target[1] = static_cast<std::uint8_t>(g);
            target[2] = static_cast<std::uint8_t>(b);
            target[3] = static_cast<std::uint8_t>(a);
        }
    }
    // A 32-bit entry carries its own alpha; one whose alpha is all zero was written by a
    // tool that only knew the mask, like every entry of fewer bits.
    if (bits == 32 && anyAlpha) return out;
    for (std::size_t row = 0; row < h; ++row) {
        const std::size_t maskRow = maskAt + (h - 1 - row) * maskStride;
        for (std::size_t x = 0; x < w; ++x) {
            const bool transparent =
                hasMask && (static_cast<std::uint8_t>(dib[maskRow + x / 8]) >> (7 - x % 8)) & 1;
            out.bytes[(row * w + x) * 4 + 3] = transparent ? 0 : 255;
        }
    }
    return out;
}

std::string IconContainer::writeIco(const std::vector<IconRendition>& renditions) {
    std::string out;
    putLe16(out, 0);
    putLe16(out, 1);
    putLe16(out, static_cast<std::uint32_t>(renditions.size()));
    std::size_t offset = 6 + 16 * renditions.size();
    for (const IconRendition& rendition : renditions) {
        // A side of 256 is written as 0: the field is one byte.
        const auto side = static_cast<char>(rendition.size >= 256 ? 0 : rendition.size);
        out += side;
        out += side;
        out += '\0';      // no palette
        out += '\0';      // reserved
        putLe16(out, 1);  // colour planes
        putLe16(out, 32); // bits a pixel
        putLe32(out, static_cast<std::uint32_t>(rendition.png.size()));
        putLe32(out, static_cast<std::uint32_t>(offset));
        offset += rendition.png.size();
    }
    for (const IconRendition& rendition : renditions)
        out += rendition.png;
    return out;
}

std::string IconContainer::writeIcns(const std::vector<IconRendition>& renditions) {
    std::string body;
    for (const IconRendition& rendition : renditions) {
        const std::string_view type = icnsType(rendition.size);
        if (type.empty()) continue;
        body += type;
        putBe32(body, static_cast<std::uint32_t>(8 + rendition.png.size()));
        body += rendition.png;
    }
    std::string out = "icns";
    putBe32(out, static_cast<std::uint32_t>(8 + body.size()));
    return out + body;
}

} // namespace lumatra
