#include "support/fixtures.h"
#include "tools/tools.h"

#include <gtest/gtest.h>

namespace lumatra {
namespace {

void makeProgram(const std::filesystem::path& path, bool executable) {
    test::writeFile(path, "#!/bin/sh\n");
    std::filesystem::permissions(path, executable ? std::filesystem::perms::owner_all
                                                  : std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::owner_write);
}

TEST(Tools, SearchListIsPathPiecesThenFixedFolders) {
    std::vector<std::filesystem::path> expected{"/a", "/b"};
    expected.insert(expected.end(), Tools::fixedFolders().begin(), Tools::fixedFolders().end());
    EXPECT_EQ(Tools::searchList("::/a::/b:"), expected);
    EXPECT_EQ(Tools::searchList(""), Tools::fixedFolders());
    EXPECT_EQ(Tools::searchList(".")[0], std::filesystem::absolute("."));
}

TEST(Tools, FindTakesTheFirstExecutableRegularFileAndLocateThePathFirst) {
    test::ScratchDir dir;
    for (auto name : {"first", "second", "third"})
        std::filesystem::create_directory(dir / name);
    makeProgram(dir / "first" / "ffmpeg", false);
    std::filesystem::create_directory(dir / "second" / "ffmpeg"); // a folder is no program
    makeProgram(dir / "third" / "ffmpeg", true);
    const std::vector<std::filesystem::path> folders = {dir / "missing", dir / "first",
                                                        dir / "second", dir / "third"};
    EXPECT_EQ(Tools::find("ffmpeg", folders), dir / "third" / "ffmpeg");
    EXPECT_FALSE(Tools::find("ffprobe", folders));

    makeProgram(dir / "third" / "lumatra-textutil", true);
    const test::ScopedVariable path("PATH", (dir / "third").c_str());
    const auto tools = Tools::locate();
    EXPECT_EQ(tools.ffmpeg, dir / "third" / "ffmpeg");
#ifdef LUMATRA_BINARY
    // The build places the text converter beside the program, where the locator looks
    // first.
    EXPECT_EQ(std::filesystem::path(LUMATRA_TEXTUTIL).parent_path(),
              std::filesystem::path(LUMATRA_BINARY).parent_path());
#endif
    if (std::filesystem::exists("/usr/bin/textutil")) GTEST_SKIP() << "a system textutil wins";
    // These tests run from another folder: the copy on the search path is taken; with
    // none, the name beside the program, so that running it fails.
    EXPECT_EQ(tools.textutil, dir / "third" / "lumatra-textutil");
    const test::ScopedVariable nowhere("PATH", "/nonexistent");
    const auto fallback = Tools::locate().textutil;
    EXPECT_EQ(fallback.filename(), "lumatra-textutil");
    EXPECT_FALSE(std::filesystem::exists(fallback));
}

} // namespace
} // namespace lumatra
