// Every source format the libraries here can make, to every image target, read back by
// programs other than ours: size, bands, and transparency kept or flattened onto white.
#include "formats/convert_error.h"
#include "image/image_converter.h"
#include "support/fixtures.h"
#include "support/image_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace lumatra {
namespace {

using test::pdfField;
using test::pixelAt;
using test::runProgram;
using test::ScratchDir;
using vips::VImage;

// The entries of an ICNS file: type and PNG pixel side.
std::vector<std::pair<std::string, int>> icnsEntries(const std::string& file) {
    std::vector<std::pair<std::string, int>> entries;
    const auto be32 = [&file](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i)
            value = value << 8 | static_cast<std::uint8_t>(file[at + i]);
        return value;
    };
    if (file.size() < 8 || file.compare(0, 4, "icns") != 0 || be32(4) != file.size()) return {};
    for (std::size_t at = 8; at + 8 <= file.size();) {
        const std::size_t length = be32(at + 4);
        if (length < 8) return {};
        const std::string png = file.substr(at + 8, length - 8);
        const bool isPng = png.compare(0, 4, "\x89PNG") == 0;
        entries.emplace_back(file.substr(at, 4), isPng ? static_cast<int>(be32(at + 24)) : -1);
        at += length;
    }
    return entries;
}

// A source: saved by libvips by its name, made by ImageMagick's convert (with `options`)
// from the picture as PNG, or written as `bytes`.
struct Source {
    std::string name;
    bool alpha; // whether the source keeps the picture's transparency
    bool convert = false;
    std::vector<std::string> options = {};
    std::string bytes = {};
};

std::vector<Source> sources() {
    const std::string svg =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"48\"><rect width=\"42\" "
        "height=\"48\" fill=\"blue\"/><rect width=\"12\" height=\"12\" fill=\"red\"/></svg>";
    const std::string xcf =
        test::xcfFile(64, 48, {{12, 12, 0, 0, {255, 0, 0, 255}}, {42, 48, 0, 0, {0, 0, 255, 255}}});
    return {
        {"photo.jpg", false, true},
        {"art.png", true},
        {"art.heic", true},
        {"art.avif", true},
        {"art.webp", true},
        {"art.tif", true},
        {"art.gif", true},
        {"art.jp2", true},
        {"art.bmp", false, true},
        {"art.psd", true, true},
        {"art.tga", true, true},
        {"art.exr", true, true},
        // ImageMagick's own ICO: Windows bitmap entries of three sizes.
        {"art.ico", true, true, {"-define", "icon:auto-resize=48,32,16"}},
        {"raw.dng", false, false, {}, test::dngFile(64, 48, 1)},
        // Types the registry names: every portable anymap, plain and raw, PCX, SVG and a
        // GIMP image of two layers.
        {"raw.ppm", false, true},
        {"plain.ppm", false, true, {"-compress", "none"}},
        {"raw.pgm", false, true},
        {"plain.pgm", false, true, {"-compress", "none"}},
        {"raw.pbm", false, true},
        {"plain.pbm", false, true, {"-compress", "none"}},
        {"art.pcx", false, true},
        {"art.svg", true, false, {}, svg},
        {"art.xcf", true, false, {}, xcf},
    };
}

TEST(ImageRoutes, EverySourceBecomesEveryTarget) {
    const VImage picture = test::markedPicture(64, 48, true);
    const Format targets[] = {Format::jpg, Format::png, Format::heic, Format::avif, Format::tiff,
                              Format::gif, Format::bmp, Format::ico,  Format::icns, Format::pdf};
    for (const Source& source : sources()) {
        ScratchDir dir;
        const auto input = dir / source.name;
        if (!source.bytes.empty()) {
            test::writeFile(input, source.bytes);
        } else if (!source.convert) {
            picture.write_to_file(input.c_str());
        } else {
            const auto png = dir / "convert-source.png";
            const auto flat = picture.extract_band(0, VImage::option()->set("n", 3));
            (source.alpha ? picture : flat).write_to_file(png.c_str());
            std::vector<std::string> command{"convert", png.string()};
            command.insert(command.end(), source.options.begin(), source.options.end());
            command.push_back(input.string());
            runProgram(command);
        }
        ASSERT_TRUE(std::filesystem::exists(input)) << source.name;
        // Icons come in at the size of their largest entry, RAW at LibRaw's demosaiced size.
        const VImage in = VImage::new_from_file(input.c_str());
        const bool icon = source.name.ends_with(".ico");
        const int width = icon ? 48 : source.name.ends_with(".dng") ? in.width() : 64;
        const int height = icon ? 48 : source.name.ends_with(".dng") ? in.height() : 48;
        for (const Format target : targets) {
            SCOPED_TRACE(source.name + " → " + std::string(title(target)));
            const auto output = dir / ("out." + std::string(ext(target)));
            ASSERT_NO_THROW(ImageConverter::convert(input, target, Quality::balanced, output));
            switch (target) {
            case Format::ico: {
                const auto run = runProgram({"identify", "-format", "%w %h\n", output.string()});
                EXPECT_EQ(run.out, "256 256\n128 128\n64 64\n48 48\n32 32\n16 16\n");
                break;
            }
            case Format::icns: {
                const std::vector<std::pair<std::string, int>> expected = {
                    {"ic10", 1024}, {"ic09", 512}, {"ic08", 256}, {"ic07", 128},
                    {"icp6", 64},   {"icp5", 32},  {"icp4", 16}};
                EXPECT_EQ(icnsEntries(test::readFile(output)), expected);
                break;
            }
            case Format::pdf: {
                EXPECT_EQ(pdfField(output, "Pages"), "1");
                EXPECT_EQ(pdfField(output, "Page size"),
                          std::to_string(width) + " x " + std::to_string(height) + " pts");
                break;
            }
            default: {
                const VImage out = VImage::new_from_file(output.c_str());
                const std::map<Format, std::string> loaders = {
                    {Format::jpg, "jpegload"},  {Format::png, "pngload"},
                    {Format::heic, "heifload"}, {Format::avif, "heifload"},
                    {Format::tiff, "tiffload"}, {Format::gif, "gifload"},
                    {Format::bmp, "magickload"}};
                EXPECT_EQ(std::string(out.get_string("vips-loader")), loaders.at(target));
                if (target == Format::heic || target == Format::avif) { // HEVC, AV1 inside
                    EXPECT_EQ(std::string(out.get_string("heif-compression")),
                              target == Format::heic ? "hevc" : "av1");
                }
                EXPECT_EQ(out.width(), width);
                EXPECT_EQ(out.height(), height);
                const bool keepsAlpha = target == Format::png || target == Format::heic ||
                                        target == Format::avif || target == Format::tiff ||
                                        target == Format::gif;
                // libvips reads some opaque GIFs back with an alpha band as well; PNG and
                // TIFF keep the grey of the portable grey and bit maps.
                const bool grey = (target == Format::png || target == Format::tiff) &&
                                  (source.name.ends_with(".pgm") || source.name.ends_with(".pbm"));
                if (target != Format::gif || source.alpha) {
                    EXPECT_EQ(out.bands(), grey ? 1 : keepsAlpha && source.alpha ? 4 : 3);
                }
                // The transparent right third is kept clear, or flattened onto white
                // with the blue beside it still blue.
                if (!source.alpha) break;
                const auto clear = pixelAt(output, width * 15 / 16, height / 2);
                const auto solid = pixelAt(output, width / 3, height / 2);
                if (keepsAlpha) {
                    EXPECT_LT(clear.back(), 10);
                    EXPECT_GT(solid.back(), 245);
                } else {
                    EXPECT_GT(*std::min_element(clear.begin(), clear.end()), 240);
                    EXPECT_LT(solid[0], 60);
                }
            }
            }
            std::filesystem::remove(output);
        }
    }
}

} // namespace
} // namespace lumatra
