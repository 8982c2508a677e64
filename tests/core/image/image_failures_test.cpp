// Sources that are not pictures, pictures too large to be real, outputs that cannot be
// written, and cancellation: each ends in its own error and leaves nothing behind.
#include "formats/convert_error.h"
#include "image/image_converter.h"
#include "support/fixtures.h"
#include "support/image_fixtures.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <thread>

namespace lumatra {
namespace {

using test::be32;
using test::ScratchDir;
using test::writeFile;
using vips::VImage;

std::string failureOf(const std::filesystem::path& source, Format target,
                      const std::filesystem::path& output, std::stop_token stop = {}) {
    try {
        ImageConverter::convert(source, target, Quality::balanced, output, stop);
    } catch (const ConvertError& error) {
        return error.errorDescription();
    } catch (const CancelledError&) {
        return "cancelled";
    }
    return "no failure";
}

// A PNG whose header claims `width` × `height` but that holds one row of data.
std::string pngClaiming(std::uint32_t width, std::uint32_t height) {
    const auto chunk = [](const std::string& type, const std::string& data) {
        const std::string body = type + data;
        const auto* bytes = reinterpret_cast<const Bytef*>(body.data());
        return be32({static_cast<unsigned>(data.size())}) + body +
               be32({static_cast<unsigned>(crc32(0, bytes, body.size()))});
    };
    return std::string("\x89PNG\r\n\x1A\n", 8) +
           chunk("IHDR", be32({width, height}) + std::string("\x08\x02\0\0\0", 5)) +
           chunk("IDAT", std::string("\x78\x9C\x03\0\0\0\0\x01", 8)) + chunk("IEND", "");
}

TEST(ImageFailures, UnreadableAndTooLargeSourcesFailAndLeaveNothing) {
    ScratchDir made;
    test::markedPicture(400, 300, false).jpegsave((made / "whole.jpg").c_str());
    test::markedPicture(400, 300, true).pngsave((made / "whole.png").c_str());
    const std::string jpeg = test::readFile(made / "whole.jpg");
    const std::string png = test::readFile(made / "whole.png");
    std::string bmpBomb = "BM" + std::string(16, '\0');
    bmpBomb += std::string("\x40\x9C\0\0\x40\x9C\0\0", 8) + std::string(40, '\0'); // 40000²
    const std::string unreadable = "Не удалось открыть изображение";
    const auto tooLarge = [](const char* size, const char* limits) {
        return std::string("Изображение слишком большое: ") + size + " пикселей " + limits;
    };
    const std::string wide = pngClaiming(14000, 13000);
    const auto tooLargeFor = [](const char* format, const char* limit) {
        return std::string("Изображение слишком большое для ") + format +
               ": 14000 × 13000 пикселей (182 Мп), можно не больше " + limit + " Мп";
    };
    struct Case {
        std::string name, bytes, failure;
        Format target = Format::jpg;
    } cases[] = {
        {"notes.png", "Это просто текст, а не картинка.\n",
         unreadable + ": формат файла не распознан"},
        {"empty.jpg", "", unreadable + ": файл пуст"},
        {"cut.jpg", jpeg.substr(0, jpeg.size() / 2), unreadable},
        {"cut.png", png.substr(0, png.size() / 2), unreadable},
        {"bomb.png", pngClaiming(20000, 20000),
         tooLarge("20000 × 20000", "(400 Мп), можно не больше 300 Мп")},
        {"wide.png", pngClaiming(0x7FFFFFFF, 1), unreadable},
        {"bomb.bmp", bmpBomb, tooLarge("40000 × 40000", "(1600 Мп), можно не больше 125 Мп")},
        {"bomb.tga", std::string("\0\0\x02\0\0\0\0\0\0\0\0\0\xFF\xFF\xFF\xFF\x20\0", 18),
         tooLarge("65535 × 65535", "(4295 Мп), можно не больше 125 Мп")},
        {"junk.ico", std::string("\0\0\1\0\xFF\xFF", 6) + std::string(64, '\x7F'), unreadable},
        {"none.icns", "icns" + be32({16}) + "TOC " + be32({8}), unreadable},
        {"junk.cr2", std::string(4096, '\x5A'), unreadable},
        {"psd.psd", "8BPS" + std::string(40, '\xFF'),
         tooLarge("4294967295 × 4294967295", "(18446744065120 Мп), можно не больше 125 Мп")},
        // Targets whose encoders take the whole picture refuse it above their own bound,
        // before any pixel is read; the others read it (here: find it cut short).
        {"wide.png", wide, tooLargeFor("HEIC", "83"), Format::heic},
        {"wide.png", wide, tooLargeFor("AVIF", "91"), Format::avif},
        {"wide.png", wide, tooLargeFor("GIF", "166"), Format::gif},
        {"wide.png", wide, unreadable, Format::pdf},
        {"wide.png", wide, unreadable, Format::ico},
        {"wide.png", wide, unreadable, Format::bmp},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " → " + std::string(title(c.target)));
        ScratchDir dir;
        writeFile(dir / c.name, c.bytes);
        EXPECT_EQ(failureOf(dir / c.name, c.target, dir / "out"), c.failure);
        EXPECT_EQ(dir.entries(), std::vector<std::string>{c.name});
    }
    // Not a regular file, and no file at all.
    ScratchDir dir;
    std::filesystem::create_directory(dir / "folder.png");
    EXPECT_EQ(failureOf(dir / "folder.png", Format::jpg, dir / "out.jpg"), unreadable);
    EXPECT_EQ(failureOf(dir / "missing.png", Format::jpg, dir / "out.jpg"), unreadable);
}

// A drawing whose filters would take minutes and gigabytes is refused from its text; a
// small one is drawn whole, filters and all.
TEST(ImageFailures, SvgFiltersAreBoundedByAreaAndCost) {
    ScratchDir dir;
    writeFile(dir / "bomb.svg",
              "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16000\" height=\"16000\">"
              "<filter id=\"f\"><feTurbulence baseFrequency=\"0.01\" numOctaves=\"10\"/>"
              "<feGaussianBlur stdDeviation=\"3000\"/></filter>"
              "<rect width=\"16000\" height=\"16000\" filter=\"url(#f)\"/></svg>");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf(dir / "bomb.svg", Format::png, dir / "bomb.png"),
              "Рисунок SVG с фильтрами слишком большой: 16000 × 16000 пикселей, с его фильтрами "
              "можно не больше 6 Мп");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_FALSE(std::filesystem::exists(dir / "bomb.png"));

    writeFile(dir / "soft.svg",
              "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"200\" height=\"100\">"
              "<defs><svg:filter xmlns:svg=\"http://www.w3.org/2000/svg\" id=\"b\">"
              "<svg:feGaussianBlur stdDeviation=\"8\"/></svg:filter></defs>"
              "<rect x=\"50\" y=\"25\" width=\"100\" height=\"50\" fill=\"#f00\" "
              "filter=\"url(#b)\"/></svg>");
    ASSERT_EQ(failureOf(dir / "soft.svg", Format::png, dir / "soft.png"), "no failure");
    const VImage soft = VImage::new_from_file((dir / "soft.png").c_str());
    EXPECT_EQ(soft.width(), 200);
    EXPECT_EQ(soft.height(), 100);
    const auto pixel = [&soft](int x, int y) { return soft.getpoint(x, y); };
    EXPECT_EQ(pixel(100, 50), (std::vector<double>{255, 0, 0, 255})); // the middle is red
    EXPECT_EQ(pixel(5, 5)[3], 0);                                     // the corner is clear
    const double edge = pixel(50, 50)[3];                             // the edge is blurred
    EXPECT_GT(edge, 60);
    EXPECT_LT(edge, 200);
}

TEST(ImageFailures, UnwritableOutputsAndForeignTargets) {
    ScratchDir dir;
    test::markedPicture(40, 30, true).pngsave((dir / "art.png").c_str());
    // The output's folder is missing; or something is already at the output's name.
    for (const Format target : {Format::png, Format::jpg, Format::heic, Format::ico, Format::bmp}) {
        EXPECT_EQ(failureOf(dir / "art.png", target, dir / "missing" / "out"),
                  "Не удалось записать " + std::string(title(target)));
    }
    EXPECT_EQ(failureOf(dir / "art.png", Format::pdf, dir / "missing" / "out.pdf"),
              "Не удалось создать PDF");
    writeFile(dir / "taken.png", "keep me");
    EXPECT_EQ(failureOf(dir / "art.png", Format::png, dir / "taken.png"),
              "Не удалось записать PNG");
    EXPECT_EQ(test::readFile(dir / "taken.png"), "keep me");
    std::filesystem::create_symlink(dir / "target.png", dir / "link.png");
    EXPECT_EQ(failureOf(dir / "art.png", Format::png, dir / "link.png"), "Не удалось записать PNG");
    EXPECT_FALSE(std::filesystem::exists(dir / "target.png"));

    for (const Format target : {Format::mp3, Format::docx, Format::json})
        EXPECT_EQ(failureOf(dir / "art.png", target, dir / "x"),
                  "Так конвертировать нельзя: фото → " + std::string(title(target)));
}

TEST(ImageFailures, CameraRawIsTurnedAndCutOffOrWithoutItsSensorDataIsNoPicture) {
    ScratchDir dir;
    const auto refused = [&dir](const std::string& bytes) {
        writeFile(dir / "cut.dng", bytes);
        EXPECT_EQ(failureOf(dir / "cut.dng", Format::png, dir / "cut.png"),
                  "Не удалось открыть изображение");
        EXPECT_FALSE(std::filesystem::exists(dir / "cut.png"));
        std::filesystem::remove(dir / "cut.dng");
    };
    // The mosaic fills the end of each file, raw or as lossless JPEG (which LibRaw
    // decodes to black when the data is missing).
    std::pair<int, int> upright;
    for (const bool lossless : {false, true}) {
        const std::string whole = test::dngFile(64, 48, 1, lossless);
        const std::size_t pixels = lossless ? whole.find("\xFF\xD8") : whole.size() - 64 * 48 * 2;
        const std::size_t data = whole.size() - pixels;
        for (const std::size_t keep :
             {pixels, pixels + data / 20, pixels + data / 2, whole.size() - 1}) {
            SCOPED_TRACE(std::to_string(keep) + (lossless ? ", lossless" : ", raw"));
            refused(whole.substr(0, keep));
        }
        // Whole, it is the mosaic: brighter to the right, in colour.
        writeFile(dir / "whole.dng", whole);
        ASSERT_EQ(failureOf(dir / "whole.dng", Format::png, dir / "whole.png"), "no failure");
        const VImage picture = VImage::new_from_file((dir / "whole.png").c_str());
        EXPECT_EQ(picture.bands(), 3);
        upright = {picture.width(), picture.height()};
        EXPECT_LT(picture.extract_area(0, 0, 8, 48).avg() + 10,
                  picture.extract_area(56, 0, 8, 48).avg());
        std::filesystem::remove(dir / "whole.dng");
        std::filesystem::remove(dir / "whole.png");
    }
    // Turned by its orientation: clockwise, the mosaic brightens downwards.
    writeFile(dir / "sideways.nef.dng", test::dngFile(64, 48, 6));
    ASSERT_EQ(failureOf(dir / "sideways.nef.dng", Format::png, dir / "b.png"), "no failure");
    const VImage sideways = VImage::new_from_file((dir / "b.png").c_str());
    EXPECT_EQ(std::pair(sideways.height(), sideways.width()), upright);
    EXPECT_LT(sideways.extract_area(0, 0, 48, 8).avg(), sideways.extract_area(0, 56, 48, 8).avg());
    // As sample collections keep their files small: the picture cut out and its strip's
    // byte count set to what is left, or the data blanked out where it stood.
    const std::string whole = test::dngFile(64, 48, 1);
    const std::size_t pixels = whole.size() - 64 * 48 * 2;
    std::string stripped = whole.substr(0, pixels);
    const std::size_t count = stripped.find(std::string("\x17\x01\x04\x00\x01\x00\x00\x00", 8));
    ASSERT_NE(count, std::string::npos);
    stripped.replace(count + 8, 4, std::string(4, '\0'));
    refused(stripped);
    refused(whole.substr(0, pixels) + std::string(64 * 48 * 2, '\0'));
}

TEST(ImageFailures, CancelStopsWithinASecond) {
    ScratchDir dir;
    // 24 megapixels of noise: seconds of work for every route.
    const VImage noise = VImage::gaussnoise(6000, 4000, VImage::option()->set("sigma", 40));
    VImage::bandjoin({noise, noise.rot180(), noise.fliphor()})
        .cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
        .jpegsave((dir / "big.jpg").c_str());
    struct Case {
        Format target;
        int afterMs;
    } cases[] = {{Format::png, 400},
                 {Format::heic, 300},
                 {Format::heic, 1500},
                 {Format::pdf, 1200},
                 {Format::tiff, 200}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(title(c.target)) + " after " + std::to_string(c.afterMs));
        const auto output = dir / ("out." + std::string(ext(c.target)));
        std::stop_source stop;
        std::chrono::steady_clock::time_point asked;
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(c.afterMs));
            asked = std::chrono::steady_clock::now();
            stop.request_stop();
        });
        EXPECT_EQ(failureOf(dir / "big.jpg", c.target, output, stop.get_token()), "cancelled");
        const auto ended = std::chrono::steady_clock::now();
        stopper.join();
        EXPECT_LT(ended - asked, std::chrono::seconds(1));
        EXPECT_FALSE(std::filesystem::exists(output));
    }
}

} // namespace
} // namespace lumatra
