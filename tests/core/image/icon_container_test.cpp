// Reading and writing the icon containers: the largest entry is found, Windows bitmap
// entries decode with their masks, and damaged directories are refused.
#include "formats/convert_error.h"
#include "image/icon_container.h"
#include "support/image_fixtures.h"

#include <gtest/gtest.h>

namespace lumatra {
namespace {

using test::le32;

// Just enough of a PNG for the readers: signature and header with the size.
std::string pngStub(unsigned width, unsigned height) {
    std::string png("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16);
    for (unsigned value : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            png += static_cast<char>(value >> shift & 0xFF);
    return png + std::string(17, '\0');
}

// A Windows bitmap entry: header, palette, colour rows (bottom first) and mask rows.
std::string dib(int width, int height, int bits, const std::string& palette,
                const std::string& rows, const std::string& mask) {
    return le32({40u, static_cast<unsigned>(width), 2u * height,
                 1u | static_cast<unsigned>(bits) << 16, 0u, 0u, 0u, 0u,
                 static_cast<unsigned>(palette.size() / 4), 0u}) +
           palette + rows + mask;
}

std::string ico(const std::vector<std::string>& entries) {
    std::string out = le32({1u << 16}) + static_cast<char>(entries.size()) + '\0';
    auto offset = 6 + 16 * static_cast<unsigned>(entries.size());
    for (const std::string& entry : entries) {
        out += le32({0u, 1u | 32u << 16, static_cast<unsigned>(entry.size()), offset});
        offset += static_cast<unsigned>(entry.size());
    }
    for (const std::string& entry : entries)
        out += entry;
    return out;
}

std::string unreadableText(std::string_view file, bool icns) {
    try {
        icns ? IconContainer::largestIcnsEntry(file) : IconContainer::largestIcoEntry(file);
    } catch (const ConvertError& error) {
        return error.errorDescription();
    }
    return "read";
}

TEST(IconContainer, FindsTheLargestEntry) {
    const std::string small =
        dib(16, 16, 32, "", std::string(16 * 16 * 4, '\x7F'), std::string(16 * 4, '\0'));
    const std::string file = ico({small, pngStub(64, 64), pngStub(32, 32), pngStub(64, 64)});
    const IconEntry entry = IconContainer::largestIcoEntry(file);
    EXPECT_EQ(entry.encoding, IconEntry::Encoding::png);
    EXPECT_EQ(entry.width, 64);
    // The first of two equal entries.
    EXPECT_EQ(entry.bytes.data(), file.data() + 6 + 16 * 4 + small.size());

    const std::string icns = IconContainer::writeIcns(
        {{1024, pngStub(1024, 1024)}, {16, pngStub(16, 16)}, {512, pngStub(512, 512)}});
    EXPECT_EQ(IconContainer::largestIcnsEntry(icns).width, 1024);
    // A JPEG 2000 entry takes its size from its type.
    std::string jp2 = "icns";
    jp2 += std::string("\0\0\0\x24", 4);
    jp2 += "ic09";
    jp2 += std::string("\0\0\0\x1C\0\0\0\x0CjP  \r\n\x87\n", 16) + std::string(12, '\0');
    const IconEntry j = IconContainer::largestIcnsEntry(jp2);
    EXPECT_EQ(j.encoding, IconEntry::Encoding::jpeg2000);
    EXPECT_EQ(j.width, 512);
}

TEST(IconContainer, DecodesBitmapEntriesWithTheirMasks) {
    // 4 bits a pixel, 8 × 2: palette red, blue; every row red, blue alternating in pairs
    // of pixels; the mask hides the left half of the top row.
    const std::string palette("\0\0\xFF\0\xFF\0\0\0", 8);
    const std::string rows =
        std::string("\x01\x01\x01\x01", 4) + std::string("\x01\x01\x01\x01", 4);
    const std::string mask = std::string("\0\0\0\0", 4) + std::string("\xF0\0\0\0", 4);
    const RgbaPixels four = IconContainer::decodeDib(dib(8, 2, 4, palette, rows, mask));
    ASSERT_EQ(four.width, 8);
    ASSERT_EQ(four.height, 2);
    const auto pixel = [&four](int x, int y) {
        const auto* p = &four.bytes[static_cast<std::size_t>((y * four.width + x) * 4)];
        return std::vector<int>{p[0], p[1], p[2], p[3]};
    };
    EXPECT_EQ(pixel(0, 0), (std::vector<int>{255, 0, 0, 0}));
    EXPECT_EQ(pixel(1, 0), (std::vector<int>{0, 0, 255, 0}));
    EXPECT_EQ(pixel(4, 0), (std::vector<int>{255, 0, 0, 255}));
    EXPECT_EQ(pixel(1, 1), (std::vector<int>{0, 0, 255, 255}));

    // 32 bits with an all-zero alpha channel: the mask decides.
    const std::string bgra = std::string("\x10\x20\x30\0", 4) + std::string("\x40\x50\x60\0", 4);
    const RgbaPixels zero =
        IconContainer::decodeDib(dib(2, 1, 32, "", bgra, std::string("\x40\0\0\0", 4)));
    EXPECT_EQ(zero.bytes, (std::vector<std::uint8_t>{0x30, 0x20, 0x10, 255, 0x60, 0x50, 0x40, 0}));
    // 32 bits with alpha of its own keeps it; no mask at all is fine.
    const std::string own = std::string("\x10\x20\x30\x80", 4) + std::string("\x40\x50\x60\xFF", 4);
    EXPECT_EQ(IconContainer::decodeDib(dib(2, 1, 32, "", own, "")).bytes,
              (std::vector<std::uint8_t>{0x30, 0x20, 0x10, 0x80, 0x60, 0x50, 0x40, 0xFF}));
}

TEST(IconContainer, RefusesDamagedFiles) {
    std::string outside = ico({pngStub(16, 16)});
    outside[6 + 12] = '\x7F'; // offset far past the end
    std::string hugeBitmap = ico({dib(100000, 10, 32, "", std::string(64, '\0'), "")});
    const std::string cases[] = {
        "",
        std::string("\0\0\1\0\0\0", 6),   // no entries
        std::string("\0\0\1\0\x10\0", 6), // more entries than bytes
        std::string("\0\0\3\0\1\0", 6) + std::string(16, '\0'),
        outside,
        hugeBitmap,
    };
    for (const std::string& file : cases)
        EXPECT_EQ(unreadableText(file, false), "Не удалось открыть изображение") << file.size();
    const std::string icnsCases[] = {
        "icns",
        "icns" + std::string("\0\0\0\x08", 4),
        // An entry longer than the file, and one without any picture.
        "icns" + std::string("\0\0\0\x20", 4) + "ic08" + std::string("\0\1\0\0", 4) +
            pngStub(256, 256),
        "icns" + std::string("\0\0\0\x14", 4) + "it32" + std::string("\0\0\0\x0C", 4) + "abcd",
    };
    for (const std::string& file : icnsCases)
        EXPECT_EQ(unreadableText(file, true), "Не удалось открыть изображение") << file.size();
    // Bitmap entries with rows missing or of a depth icons never have.
    EXPECT_THROW(IconContainer::decodeDib(dib(4, 4, 8, "", "", "")), ConvertError);
    EXPECT_THROW(IconContainer::decodeDib(dib(8, 8, 5, "", std::string(64, '\0'), "")),
                 ConvertError);
}

} // namespace
} // namespace lumatra
