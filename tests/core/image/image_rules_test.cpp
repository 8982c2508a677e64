// What every conversion promises about the picture: depth and grey kept in the lossless
// formats, upright, metadata kept in the lossy formats, icon renditions, PDF pages, what
// layered and animated pictures show (how the quality levels size the lossy files is
// bench/image_compare.sh's).
#include "image/image_converter.h"
#include "support/fixtures.h"
#include "support/image_fixtures.h"

#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <cstring>

namespace lumatra {
namespace {

using test::pdfField;
using test::pixelAt;
using test::ScratchDir;
using vips::VImage;

// Whether a libvips header field exists whose name contains `part`.
bool hasFieldContaining(const VImage& image, const std::string& part) {
    gchar** fields = vips_image_get_fields(image.get_image());
    bool found = false;
    for (gchar** field = fields; *field; ++field)
        found = found || std::string(*field).find(part) != std::string::npos;
    g_strfreev(fields);
    return found;
}

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
    // Bands, sample format and colour model ("3 ushort rgb16").
    const auto header = [](const std::filesystem::path& file) {
        const VImage image = VImage::new_from_file(file.c_str());
        return std::to_string(image.bands()) + " " +
               vips_enum_nick(VIPS_TYPE_BAND_FORMAT, image.format()) + " " +
               vips_enum_nick(VIPS_TYPE_INTERPRETATION, image.interpretation());
    };
    const VImage ramp = VImage::black(64, 32).linear(1, 0) + VImage::xyz(64, 32).extract_band(0);
    const VImage grey = (ramp * 4)
                            .cast(VIPS_FORMAT_UCHAR)
                            .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W));
    const VImage deep = (ramp * 1000).cast(VIPS_FORMAT_USHORT);
    const VImage deepColour =
        VImage::bandjoin({deep, deep, deep})
            .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
    const VImage deepGrey =
        deep.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_GREY16));
    const struct {
        const char* name;
        VImage picture;
        Format target;
        const char* expected;
    } cases[] = {
        {"grey.jpg", grey, Format::png, "1 uchar b-w"},
        {"grey.jpg", grey, Format::tiff, "1 uchar b-w"},
        {"grey-alpha.png", grey.bandjoin_const({255}), Format::png, "2 uchar b-w"},
        {"deep.png", deepColour, Format::tiff, "3 ushort rgb16"},
        {"deep.png", deepColour, Format::png, "3 ushort rgb16"},
        {"deep-grey.tif", deepGrey, Format::png, "1 ushort grey16"},
        // Lossy and 8-bit targets as ever.
        {"deep-grey.tif", deepGrey, Format::jpg, "3 uchar srgb"},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " to " + std::string(rawValue(c.target)));
        const auto source = dir / c.name;
        c.picture.write_to_file(source.c_str());
        const auto output = dir / ("out." + std::string(ext(c.target)));
        ImageConverter::convert(source, c.target, Quality::best, output);
        EXPECT_EQ(header(output), c.expected);
        if (c.target == Format::tiff) { // compressed, and every pixel as it was
            const auto run =
                test::runProgram({"exiftool", "-s", "-s", "-s", "-Compression", output.string()});
            EXPECT_NE(run.out.find("Deflate"), std::string::npos) << run.out;
            EXPECT_EQ(VImage::new_from_file(output.c_str()).subtract(c.picture).abs().max(), 0);
        }
        std::filesystem::remove(output);
    }
    // Camera RAW is developed at 16 bits for TIFF.
    test::writeFile(dir / "raw.dng", test::dngFile(64, 48, 1));
    ImageConverter::convert(dir / "raw.dng", Format::tiff, Quality::best, dir / "raw.tiff");
    EXPECT_EQ(header(dir / "raw.tiff"), "3 ushort rgb16");
}

// A HEIC file the way phones write one: the pixels of `photo` stored as shot, its
// orientation as a rotation in the container and in its EXIF block.
void writeTurnedHeic(const std::filesystem::path& photo, const std::filesystem::path& file) {
    const VImage picture = VImage::new_from_file(photo.c_str()).copy_memory();
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
    options->image_orientation =
        static_cast<heif_orientation>(picture.get_int(VIPS_META_ORIENTATION));
    heif_image_handle* handle = nullptr;
    heif_context_encode_image(context, image, encoder, options, &handle);
    std::size_t length = 0;
    const void* exif = picture.get_blob(VIPS_META_EXIF_NAME, &length);
    heif_context_add_exif_metadata(context, handle, exif, static_cast<int>(length));
    heif_context_write_to_file(context, file.c_str());
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);
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
        const auto photo = dir / "photo.jpg";
        test::markedPicture(60, 40, false).jpegsave(photo.c_str(), VImage::option()->set("Q", 95));
        test::exiftoolWrite(photo,
                            {"-Orientation#=" + std::to_string(c.orientation), "-GPSLatitude=55.75",
                             "-GPSLatitudeRef=N", "-IPTC:ObjectName=Sunset"});
        // Turned in the container as well as in EXIF, a phone's HEIC is turned once.
        writeTurnedHeic(photo, dir / "phone.heic");
        const std::pair<const char*, Format> conversions[] = {{"photo.jpg", Format::png},
                                                              {"photo.jpg", Format::jpg},
                                                              {"photo.jpg", Format::heic},
                                                              {"phone.heic", Format::png}};
        for (const auto& [source, target] : conversions) {
            SCOPED_TRACE(std::string(source) + " → " + std::string(title(target)));
            const auto output = dir / ("upright " + std::string(source) + "." + ext(target).data());
            ImageConverter::convert(dir / source, target, Quality::best, output);
            const VImage image = VImage::new_from_file(output.c_str());
            EXPECT_EQ(image.width(), c.width);
            EXPECT_EQ(image.height(), c.height);
            EXPECT_TRUE(isRed(pixelAt(output, c.markX, c.markY)));
            EXPECT_FALSE(isRed(pixelAt(output, 5, 5)) && c.markX != 5);
        }
        const VImage jpg = VImage::new_from_file((dir / "upright photo.jpg.jpg").c_str());
        EXPECT_EQ(jpg.get_int(VIPS_META_ORIENTATION), 1);
        EXPECT_EQ(std::string(jpg.get_string("exif-ifd0-Orientation")).substr(0, 1), "1");
        EXPECT_TRUE(hasFieldContaining(jpg, "GPSLatitude"));
        EXPECT_EQ(jpg.get_typeof(VIPS_META_IPTC_NAME), VIPS_TYPE_BLOB);
        // HEIC keeps EXIF and GPS, and IPTC as libheif proposes to store it.
        const auto heic = dir / "upright photo.jpg.heic";
        EXPECT_TRUE(hasFieldContaining(VImage::new_from_file(heic.c_str()), "GPSLatitude"));
        EXPECT_EQ(heifIptc(heic),
                  test::runProgram({"exiftool", "-b", "-IPTC", photo.string()}).out);
        // The lossless formats carry no metadata.
        const VImage png = VImage::new_from_file((dir / "upright photo.jpg.png").c_str());
        EXPECT_FALSE(hasFieldContaining(png, "GPS"));
    }
}

TEST(ImageRules, IconRenditionsAreCentredSquares) {
    ScratchDir dir;
    // Opaque red, 100 × 50, with no transparency of its own.
    VImage::black(100, 50)
        .new_from_image({255, 0, 0})
        .cast(VIPS_FORMAT_UCHAR)
        .pngsave((dir / "wide.png").c_str());
    ImageConverter::convert(dir / "wide.png", Format::ico, Quality::balanced, dir / "wide.ico");
    for (std::size_t i = 0; i < ImageConverter::icoSizes.size(); ++i) {
        const int side = ImageConverter::icoSizes[i];
        SCOPED_TRACE(side);
        const VImage entry = VImage::magickload((dir / "wide.ico").c_str(),
                                                VImage::option()->set("page", static_cast<int>(i)));
        ASSERT_EQ(entry.width(), side);
        ASSERT_EQ(entry.height(), side);
        ASSERT_EQ(entry.bands(), 4);
        // Transparent bands above and below, the picture in the middle half, with no
        // darkened edge where it meets them.
        EXPECT_LT(entry.getpoint(side / 2, 0)[3], 1);
        EXPECT_LT(entry.getpoint(side / 2, side - 1)[3], 1);
        const auto middle = entry.getpoint(side / 2, side / 2);
        EXPECT_TRUE(isRed(middle));
        EXPECT_GT(middle[3], 254);
        const auto edge = entry.getpoint(side / 2, side / 4);
        if (edge[3] > 0) {
            EXPECT_GT(edge[0], 200);
        }
    }
    // Read back, an Apple icon gives its largest rendition.
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

TEST(ImageRules, LayersBitmapsAndAnimationsShowWhatTheirEditorsShow) {
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
    // An animation gives its first frame: red, not the blue after it.
    test::runProgram({"convert", "-size", "32x32", "-delay", "100", "xc:red", "xc:blue",
                      (dir / "anim.gif").string()});
    ImageConverter::convert(dir / "anim.gif", Format::png, Quality::balanced, dir / "first.png");
    EXPECT_EQ(VImage::new_from_file((dir / "first.png").c_str()).height(), 32);
    EXPECT_TRUE(isRed(pixelAt(dir / "first.png", 16, 16)));
}

} // namespace
} // namespace lumatra
