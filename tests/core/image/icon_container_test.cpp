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
    return std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16) + test::be32({width, height}) +
           std::string(17, '\0');
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
    std::string out = le32({1u << 16}) + static_cast<char>(entries.size()) + '\0', data;
    for (const std::string& entry : entries) {
        const auto offset = 6 + 16 * entries.size() + data.size();
        out += le32({0u, 1u | 32u << 16, static_cast<unsigned>(entry.size()),
                     static_cast<unsigned>(offset)});
        data += entry;
    }
    return out + data;
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
    const std::string jp2 = "icns" + test::be32({0x24}) + "ic09" + test::be32({0x1C, 0x0C}) +
                            "jP  \r\n\x87\n" + std::string(12, '\0');
    const IconEntry j = IconContainer::largestIcnsEntry(jp2);
    EXPECT_EQ(j.encoding, IconEntry::Encoding::jpeg2000);
    EXPECT_EQ(j.width, 512);
}

TEST(IconContainer, DecodesBitmapEntriesWithTheirMasks) {
    // 4 bits a pixel, 8 × 2: palette red, blue; every row red, blue alternating in pairs
    // of pixels; the mask hides the left half of the top row.
    const std::string palette("\0\0\xFF\0\xFF\0\0\0", 8);
    const std::string mask("\0\0\0\0\xF0\0\0\0", 8);
    const RgbaPixels four =
        IconContainer::decodeDib(dib(8, 2, 4, palette, std::string(8, '\x01'), mask));
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
    const std::string bgra("\x10\x20\x30\0\x40\x50\x60\0", 8);
    const RgbaPixels zero =
        IconContainer::decodeDib(dib(2, 1, 32, "", bgra, std::string("\x40\0\0\0", 4)));
    EXPECT_EQ(zero.bytes, (std::vector<std::uint8_t>{0x30, 0x20, 0x10, 255, 0x60, 0x50, 0x40, 0}));
    // 32 bits with alpha of its own keeps it; no mask at all is fine.
    const std::string own("\x10\x20\x30\x80\x40\x50\x60\xFF", 8);
    EXPECT_EQ(IconContainer::decodeDib(dib(2, 1, 32, "", own, "")).bytes,
              (std::vector<std::uint8_t>{0x30, 0x20, 0x10, 0x80, 0x60, 0x50, 0x40, 0xFF}));
}

TEST(IconContainer, RefusesDamagedFiles) {
    std::string outside = ico({pngStub(16, 16)});
    outside[6 + 12] = '\x7F'; // offset far past the end
    const std::string cases[] = {
        "",
        std::string("\0\0\1\0\0\0", 6),   // no entries
        std::string("\0\0\1\0\x10\0", 6), // more entries than bytes
        std::string("\0\0\3\0\1\0", 6) + std::string(16, '\0'),
        outside,
        ico({dib(100000, 10, 32, "", std::string(64, '\0'), "")}),
        "icns",
        "icns" + test::be32({8}),
        // An entry longer than the file, and one without any picture.
        "icns" + test::be32({0x20}) + "ic08" + test::be32({0x10000}) + pngStub(256, 256),
        "icns" + test::be32({0x14}) + "it32" + test::be32({0x0C}) + "abcd",
    };
    // Neither reader takes any of them.
    for (const std::string& file : cases)
        for (const bool icns : {false, true})
            EXPECT_EQ(unreadableText(file, icns), "Не удалось открыть изображение") << file.size();
    // Bitmap entries with rows missing or of a depth icons never have.
    EXPECT_THROW(IconContainer::decodeDib(dib(4, 4, 8, "", "", "")), ConvertError);
    EXPECT_THROW(IconContainer::decodeDib(dib(8, 8, 5, "", std::string(64, '\0'), "")),
                 ConvertError);
}

} // namespace
} // namespace lumatra
