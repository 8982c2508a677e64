// What every conversion promises about the picture: depth and grey kept in the lossless
// formats, upright, metadata kept in the lossy formats, the first frame, icon renditions,
// PDF pages (how the quality levels size the lossy files is bench/image_compare.sh's).
#include "formats/convert_error.h"
#include "image/icon_container.h"
#include "image/image_converter.h"
#include "support/fixtures.h"
#include "support/image_fixtures.h"

#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <cstring>

namespace lumatra {

std::string pdfField(const std::filesystem::path& file, const std::string& name);

namespace {

using test::pixelAt;
using test::ScratchDir;
using vips::VImage;

bool isRed(const std::vector<double>& pixel) {
    return pixel[0] > 180 && pixel[1] < 90 && pixel[2] < 90;
}

// The IPTC stream of a HEIF file's primary picture, as libheif reads it.
std::string heifIptc(const std::filesystem::path& file) {
    heif_context* context = heif_context_alloc();
    std::string stream;
    heif_image_handle* handle = nullptr;
    if (heif_context_read_from_file(context, file.c_str(), nullptr).code == heif_error_Ok &&
        heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok) {
        heif_item_id id = 0;
        if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "iptc", &id, 1) == 1) {
            stream.resize(heif_image_handle_get_metadata_size(handle, id));
            heif_image_handle_get_metadata(handle, id, stream.data());
        }
        heif_image_handle_release(handle);
    }
    heif_context_free(context);
    return stream;
}

TEST(ImageRules, LosslessTargetsKeepGreyAndDepth) {
    // vipsheader reads back bands, sample format and colour model ("3 USHORT RGB16").
    const auto header = [](const std::filesystem::path& file) {
        std::string out;
        for (const char* field : {"bands", "format", "interpretation"}) {
            std::string value = test::runProgram({"vipsheader", "-f", field, file.string()}).out;
            for (const std::string_view prefix : {"VIPS_FORMAT_", "VIPS_INTERPRETATION_"})
                if (const auto at = value.find(prefix); at != std::string::npos)
                    value = value.substr(at + prefix.size());
            value = value.substr(0, value.find_first_of(")\n"));
            out += (out.empty() ? "" : " ") + value;
        }
        return out;
    };
    const VImage ramp = VImage::black(64, 32).linear(1, 0) + VImage::xyz(64, 32).extract_band(0);
    const VImage grey = (ramp * 4)
                            .cast(VIPS_FORMAT_UCHAR)
                            .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W));
    const VImage deep = (ramp * 1000).cast(VIPS_FORMAT_USHORT);
    const VImage deepColour =
        VImage::bandjoin({deep, deep, deep})
            .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
    struct Case {
        const char* name;
        VImage picture;
        Format target;
        const char* expected;
    };
    const VImage deepGrey =
        deep.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_GREY16));
    const Case cases[] = {
        {"grey.jpg", grey, Format::png, "1 UCHAR B_W"},
        {"grey.jpg", grey, Format::tiff, "1 UCHAR B_W"},
        {"grey-alpha.png", grey.bandjoin_const({255}), Format::png, "2 UCHAR B_W"},
        {"deep.png", deepColour, Format::tiff, "3 USHORT RGB16"},
        {"deep.png", deepColour, Format::png, "3 USHORT RGB16"},
        {"deep-grey.tif", deepGrey, Format::png, "1 USHORT GREY16"},
        // Lossy and 8-bit targets as ever.
        {"deep-grey.tif", deepGrey, Format::jpg, "3 UCHAR sRGB"},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " to " + std::string(rawValue(c.target)));
        const auto source = dir / c.name;
        c.picture.write_to_file(source.c_str());
        const auto output = dir / ("out." + std::string(ext(c.target)));
        ImageConverter::convert(source, c.target, Quality::best, output);
        SCOPED_TRACE("source " + header(source));
        EXPECT_EQ(header(output), c.expected);
        if (c.target == Format::tiff) { // compressed, and every pixel as it was
            const auto run =
                test::runProgram({"exiftool", "-s", "-s", "-s", "-Compression", output.string()});
            EXPECT_NE(run.out.find("Deflate"), std::string::npos) << run.out;
            EXPECT_EQ(VImage::new_from_file(output.c_str()).subtract(c.picture).abs().max(), 0);
        }
        std::filesystem::remove(output);
        std::filesystem::remove(source);
    }
    // Camera RAW is developed at 16 bits for TIFF.
    test::writeFile(dir / "raw.dng", test::dngFile(64, 48, 1));
    ImageConverter::convert(dir / "raw.dng", Format::tiff, Quality::best, dir / "raw.tiff");
    EXPECT_EQ(header(dir / "raw.tiff"), "3 USHORT RGB16");
}

TEST(ImageRules, TurnedPhotosComeOutUprightWithTheirMetadata) {
    // The stored picture is 60 × 40 with its red mark top left; where the mark lands once
    // the orientation is applied, on the 40 × 60 or 60 × 40 upright picture.
    struct Case {
        int orientation, width, height, markX, markY;
    } cases[] = {{6, 40, 60, 35, 5}, {3, 60, 40, 55, 35}, {8, 40, 60, 5, 55}};
    for (const Case& c : cases) {
        SCOPED_TRACE("orientation " + std::to_string(c.orientation));
        ScratchDir dir;
        VImage stored = test::markedPicture(60, 40, false).copy();
        const std::string exif = test::exifBlock(c.orientation);
        const std::string iptc = test::photoshopBlock(test::iimDataset(2, 5, "Закат"));
        vips_image_set_blob_copy(stored.get_image(), VIPS_META_EXIF_NAME, exif.data(), exif.size());
        vips_image_set_blob_copy(stored.get_image(), VIPS_META_IPTC_NAME, iptc.data(), iptc.size());
        stored.set(VIPS_META_ORIENTATION, c.orientation);
        stored.jpegsave((dir / "photo.jpg").c_str(), VImage::option()->set("Q", 95));

        for (const Format target : {Format::png, Format::jpg, Format::heic}) {
            const auto output = dir / ("upright." + std::string(ext(target)));
            ImageConverter::convert(dir / "photo.jpg", target, Quality::best, output);
            const VImage image = VImage::new_from_file(output.c_str());
            EXPECT_EQ(image.width(), c.width);
            EXPECT_EQ(image.height(), c.height);
            EXPECT_TRUE(isRed(pixelAt(output, c.markX, c.markY))) << title(target);
            EXPECT_FALSE(isRed(pixelAt(output, 5, 5)) && c.markX != 5) << title(target);
        }
        const VImage jpg = VImage::new_from_file((dir / "upright.jpg").c_str());
        EXPECT_EQ(jpg.get_int(VIPS_META_ORIENTATION), 1);
        EXPECT_EQ(std::string(jpg.get_string("exif-ifd0-Orientation")).substr(0, 1), "1");
        EXPECT_TRUE(test::hasFieldContaining(jpg, "GPSLatitude"));
        EXPECT_EQ(jpg.get_typeof(VIPS_META_IPTC_NAME), VIPS_TYPE_BLOB);
        // HEIC keeps EXIF and GPS, and IPTC as libheif proposes to store it.
        const VImage heic = VImage::new_from_file((dir / "upright.heic").c_str());
        EXPECT_TRUE(test::hasFieldContaining(heic, "GPSLatitude"));
        EXPECT_EQ(heifIptc(dir / "upright.heic"), test::iimDataset(2, 5, "Закат"));
        // The lossless formats carry no metadata.
        const VImage png = VImage::new_from_file((dir / "upright.png").c_str());
        EXPECT_FALSE(test::hasFieldContaining(png, "GPS"));
    }
}

// A HEIC file the way phones write one: the pixels stored as shot, a rotation in the
// container and the same orientation in its EXIF block.
void writeTurnedHeic(const VImage& stored, int orientation, const std::filesystem::path& file) {
    const VImage picture = stored.copy_memory();
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, 95);
    heif_image* image = nullptr;
    heif_image_create(picture.width(), picture.height(), heif_colorspace_RGB,
                      heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, picture.width(), picture.height(), 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const auto* pixels =
        static_cast<const std::uint8_t*>(VIPS_IMAGE_ADDR(picture.get_image(), 0, 0));
    for (int y = 0; y < picture.height(); ++y)
        std::memcpy(plane + y * stride, pixels + y * picture.width() * 3,
                    static_cast<std::size_t>(picture.width()) * 3);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = static_cast<heif_orientation>(orientation);
    heif_image_handle* handle = nullptr;
    heif_context_encode_image(context, image, encoder, options, &handle);
    const std::string exif = test::exifBlock(orientation);
    heif_context_add_exif_metadata(context, handle, exif.data(), static_cast<int>(exif.size()));
    heif_context_write_to_file(context, file.c_str());
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);
}

TEST(ImageRules, TurnedHeicIsTurnedOnce) {
    ScratchDir dir;
    writeTurnedHeic(test::markedPicture(60, 40, false), 6, dir / "phone.heic");
    for (const Format target : {Format::png, Format::jpg}) {
        const auto output = dir / ("upright." + std::string(ext(target)));
        ImageConverter::convert(dir / "phone.heic", target, Quality::best, output);
        const VImage image = VImage::new_from_file(output.c_str());
        EXPECT_EQ(image.width(), 40);
        EXPECT_EQ(image.height(), 60);
        EXPECT_TRUE(isRed(pixelAt(output, 35, 5))) << title(target);
    }
}

TEST(ImageRules, AnimatedGifGivesItsFirstFrame) {
    ScratchDir dir;
    // Two frames: red, then blue.
    const VImage red = VImage::black(32, 32).new_from_image({255, 0, 0}).cast(VIPS_FORMAT_UCHAR);
    const VImage blue = VImage::black(32, 32).new_from_image({0, 0, 255}).cast(VIPS_FORMAT_UCHAR);
    VImage frames = VImage::arrayjoin({red, blue}, VImage::option()->set("across", 1)).copy();
    frames.set(VIPS_META_PAGE_HEIGHT, 32);
    frames.set("delay", std::vector<int>{100, 100});
    frames.gifsave((dir / "anim.gif").c_str());
    ASSERT_EQ(VImage::new_from_file((dir / "anim.gif").c_str()).get_int(VIPS_META_N_PAGES), 2);
    ImageConverter::convert(dir / "anim.gif", Format::png, Quality::balanced, dir / "first.png");
    const VImage first = VImage::new_from_file((dir / "first.png").c_str());
    EXPECT_EQ(first.height(), 32);
    EXPECT_TRUE(isRed(pixelAt(dir / "first.png", 16, 16)));
}

TEST(ImageRules, IconRenditionsAreCentredSquares) {
    ScratchDir dir;
    // Opaque red, 100 × 50, with no transparency of its own.
    VImage wide = VImage::black(100, 50).new_from_image({255, 0, 0}).cast(VIPS_FORMAT_UCHAR);
    wide.pngsave((dir / "wide.png").c_str());
    ImageConverter::convert(dir / "wide.png", Format::ico, Quality::balanced, dir / "wide.ico");
    const std::string ico = test::readFile(dir / "wide.ico");
    ASSERT_GT(ico.size(), 6u + 6 * 16);
    EXPECT_EQ(ico[4], 6);
    for (int i = 0; i < 6; ++i) {
        const int side = ImageConverter::icoSizes[static_cast<std::size_t>(i)];
        SCOPED_TRACE(side);
        const std::size_t at = 6 + 16 * static_cast<std::size_t>(i);
        auto le32 = [&ico](std::size_t p) {
            return static_cast<std::uint32_t>(static_cast<std::uint8_t>(ico[p]) |
                                              static_cast<std::uint8_t>(ico[p + 1]) << 8 |
                                              static_cast<std::uint8_t>(ico[p + 2]) << 16 |
                                              static_cast<std::uint8_t>(ico[p + 3]) << 24);
        };
        const auto png = dir / ("entry" + std::to_string(side) + ".png");
        test::writeFile(png, ico.substr(le32(at + 12), le32(at + 8)));
        const VImage entry = VImage::new_from_file(png.c_str());
        ASSERT_EQ(entry.width(), side);
        ASSERT_EQ(entry.height(), side);
        ASSERT_EQ(entry.bands(), 4);
        // Transparent bands above and below, the picture in the middle half, with no
        // darkened edge where it meets them.
        EXPECT_LT(pixelAt(png, side / 2, 0)[3], 1);
        EXPECT_LT(pixelAt(png, side / 2, side - 1)[3], 1);
        const auto middle = pixelAt(png, side / 2, side / 2);
        EXPECT_TRUE(isRed(middle));
        EXPECT_GT(middle[3], 254);
        const auto edge = pixelAt(png, side / 2, side / 4);
        if (edge[3] > 0) {
            EXPECT_GT(edge[0], 200);
        }
    }
    // Read back, an icon gives its largest rendition.
    ImageConverter::convert(dir / "wide.ico", Format::png, Quality::balanced, dir / "back.png");
    EXPECT_EQ(VImage::new_from_file((dir / "back.png").c_str()).width(), 256);
    ImageConverter::convert(dir / "wide.png", Format::icns, Quality::balanced, dir / "wide.icns");
    ImageConverter::convert(dir / "wide.icns", Format::png, Quality::balanced, dir / "mac.png");
    EXPECT_EQ(VImage::new_from_file((dir / "mac.png").c_str()).width(), 1024);
}

TEST(ImageRules, PdfPageIsThePictureAtMostA4Long) {
    struct Case {
        int width, height;
        std::string page;
    } cases[] = {{2000, 1000, "842 x 421 pts"},
                 {400, 300, "400 x 300 pts"},
                 {500, 3000, "140.333 x 842 pts"}};
    for (const Case& c : cases) {
        ScratchDir dir;
        VImage::black(c.width, c.height, VImage::option()->set("bands", 3))
            .pngsave((dir / "page.png").c_str());
        ImageConverter::convert(dir / "page.png", Format::pdf, Quality::balanced, dir / "page.pdf");
        EXPECT_EQ(pdfField(dir / "page.pdf", "Page size"), c.page);
    }
}

TEST(ImageRules, GimpImagesAndBitmapsShowWhatTheirEditorsShow) {
    ScratchDir dir;
    // Topmost first: a hidden green sheet, a red square set off the corner, a blue block.
    test::writeFile(dir / "layers.xcf", test::xcfFile(64, 48,
                                                      {{64, 48, 0, 0, {0, 255, 0, 255}, false},
                                                       {10, 10, 20, 10, {255, 0, 0, 255}},
                                                       {40, 40, 0, 0, {0, 0, 255, 255}}}));
    ImageConverter::convert(dir / "layers.xcf", Format::png, Quality::balanced, dir / "xcf.png");
    EXPECT_TRUE(isRed(pixelAt(dir / "xcf.png", 25, 15)));
    EXPECT_EQ(pixelAt(dir / "xcf.png", 5, 5), (std::vector<double>{0, 0, 255, 255}));
    EXPECT_EQ(pixelAt(dir / "xcf.png", 50, 44)[3], 0); // no layer there
    // In a bitmap 1 is black.
    test::writeFile(dir / "plain.pbm", "P1\n# two pixels\n2 1\n1 0\n");
    ImageConverter::convert(dir / "plain.pbm", Format::png, Quality::balanced, dir / "pbm.png");
    EXPECT_EQ(pixelAt(dir / "pbm.png", 0, 0), (std::vector<double>{0}));
    EXPECT_EQ(pixelAt(dir / "pbm.png", 1, 0), (std::vector<double>{255}));
}

} // namespace
} // namespace lumatra
