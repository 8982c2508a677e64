// The image routes end to end: the built program converts pictures named on its command line.
#include "support/fixtures.h"
#include "support/image_fixtures.h"

#include <gtest/gtest.h>

#ifdef LUMATRA_BINARY

namespace lumatra {
namespace {

using test::lastLine;
using test::runProgram;
using test::ScratchDir;

TEST(ImageCli, ConvertsPicturesBesideTheSourceOrIntoAFolder) {
    ScratchDir dir;
    test::markedPicture(120, 80, true).heifsave((dir / "Фото.heic").c_str());
    struct Case {
        std::vector<std::string> extra;
        std::string output;
        std::string loader;
    } cases[] = {
        {{"--to", "jpg"}, "Фото.jpg", "jpegload"},
        {{"--to", "jpg", "--quality", "small"}, "Фото 2.jpg", "jpegload"},
        {{"--to", "png", "--out", (dir / "out").string()}, "out/Фото.png", "pngload"},
        {{"--to", "gif", "--quality", "best"}, "Фото.gif", "gifload"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {LUMATRA_BINARY, "--cli", (dir / "Фото.heic").string()};
        argv.insert(argv.end(), c.extra.begin(), c.extra.end());
        const auto run = runProgram(argv);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_TRUE(lastLine(run.out).starts_with("Готово: " + (dir / c.output).string() + " · "))
            << run.out;
        const auto header = runProgram({"vipsheader", (dir / c.output).string()});
        EXPECT_NE(header.out.find("120x80"), std::string::npos) << header.out;
        EXPECT_NE(header.out.find(c.loader), std::string::npos) << header.out;
    }
    // Nothing hidden is left behind.
    for (const auto& name : dir.entries())
        EXPECT_FALSE(name.starts_with(".lumatra-")) << name;
}

TEST(ImageCli, TextNamedLikeAPictureFails) {
    ScratchDir dir;
    test::writeFile(dir / "notes.png", "не картинка\n");
    const auto run =
        runProgram({LUMATRA_BINARY, "--cli", (dir / "notes.png").string(), "--to", "ico"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lastLine(run.out),
              "Ошибка: Не удалось открыть изображение: формат файла не распознан");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"notes.png"});
}

} // namespace
} // namespace lumatra

#endif
