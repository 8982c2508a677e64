// The command line with many files: the built executable on generated files, its lines,
// its exit status and what it leaves behind.

#include "app/main/cli_support.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

namespace lumatra {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::UnorderedElementsAre;

using test::lumatra;

const std::string doneLine = " · [0-9][0-9,]* [^ ]+ · [0-9]+\\.[0-9] с";
const std::string summary = " · [0-9]+\\.[0-9] с";

// The lines without the "[N%]" progress of the whole batch, which must rise.
std::vector<std::string> resultLines(const std::string& out) {
    std::vector<std::string> kept;
    int last = 0;
    const std::regex progress("\\[([0-9]+)%\\]");
    for (const auto& line : test::lines(out)) {
        std::smatch match;
        if (std::regex_match(line, match, progress)) {
            const int percent = std::stoi(match[1]);
            EXPECT_GT(percent / 10, last / 10) << line;
            last = percent;
            continue;
        }
        kept.push_back(line);
    }
    return kept;
}

// The line of a result at `path`.
::testing::Matcher<std::string> doneAt(const std::filesystem::path& path) {
    const auto escaped =
        std::regex_replace(path.string(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
    return MatchesRegex("Готово: " + escaped + doneLine);
}

// What the target does not serve is skipped; a failure leaves the others done.
TEST(CommandLineBatch, ConvertsSeveralKindsSkipsWhatTheTargetDoesNotServeAndGoesOnAfterFailures) {
    test::ScratchDir dir;
    test::makeMedia(dir / "picture.png",
                    {"-f", "lavfi", "-i", "testsrc=size=64x48", "-frames:v", "1"});
    test::makeClip(dir / "clip.mp4", 0.5, false);
    test::makeTone(dir / "song.wav", 0.3);
    test::writeFile(dir / "broken.mp4", "not a recording");
    const auto result = lumatra({"--cli", "picture.png", "broken.mp4", "missing.png", "clip.mp4",
                                 "song.wav", "--to", "GIF", "--out", "out"},
                                dir.path());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "");
    const auto out = resultLines(result.out);
    ASSERT_EQ(out.size(), 6u) << result.out;
    EXPECT_EQ(out[0], "Пропущен: song.wav: не конвертируется в GIF");
    EXPECT_THAT(std::vector<std::string>(out.begin() + 1, out.end() - 1),
                UnorderedElementsAre(doneAt(dir / "out/picture.gif"), doneAt(dir / "out/clip.gif"),
                                     MatchesRegex("Ошибка: broken\\.mp4: .+"),
                                     "Ошибка: missing.png: Файл не найден: " +
                                         (dir / "missing.png").string()));
    EXPECT_THAT(out.back(), MatchesRegex("Готово 2 из 4" + summary));
    EXPECT_THAT(test::ScratchDir::entriesOf(dir / "out"), ElementsAre("clip.gif", "picture.gif"));
}

TEST(CommandLineBatch, AFolderGivesItsVisibleEntriesInTheOrderOfAFileManager) {
    test::ScratchDir dir;
    std::filesystem::create_directories(dir / "in/sub");
    for (const char* name : {"b10.wav", "B2.wav", "a.wav", ".hidden.wav", "sub/deep.wav"})
        test::makeTone(dir / "in" / name, 0.2);
    test::writeFile(dir / "in/notes.xyzzy", "x");
    test::writeFile(dir / "in/readme.txt", "x");
    // One at a time: finishing order is the order of the listing.
    const auto result =
        lumatra({"--cli", "in", "--to", "opus", "--out", "out", "--jobs", "1"}, dir.path());
    EXPECT_EQ(result.status, 0) << result.out;
    const auto out = resultLines(result.out);
    const auto done = [&](const std::string& name) { return doneAt(dir / "out" / name); };
    EXPECT_THAT(out,
                ElementsAre("Пропущен: in/notes.xyzzy: неизвестный тип файла",
                            "Пропущен: in/readme.txt: не конвертируется в OPUS",
                            "Пропущен: in/sub: папка внутри папки", done("a.opus"), done("B2.opus"),
                            done("b10.opus"), MatchesRegex("Готово 3 из 3" + summary)))
        << result.out;
}

TEST(CommandLineBatch, OnATerminalProgressIsOneLineRewrittenInPlace) {
    test::ScratchDir dir;
    test::makeTone(dir / "one.wav", 0.3);
    test::makeTone(dir / "two.wav", 0.3);
    // `script` gives the program a terminal and copies what it writes there.
    const auto result = test::runProgram(
        {"script", "-qec", std::string(LUMATRA_BINARY) + " --cli one.wav two.wav --to ogg --jobs 1",
         "/dev/null"},
        dir.path());
    EXPECT_EQ(result.status, 0) << result.out;
    // Each result line first clears the progress; the terminal turns "\n" into CR LF.
    EXPECT_TRUE(std::regex_search(result.out,
                                  std::regex("\r\x1b\\[K[0-9]+ % · [01] из 2 · (one|two)\\.wav\r")))
        << result.out;
    EXPECT_THAT(result.out, HasSubstr("\r\033[KГотово: " + (dir / "two.ogg").string() + " · "));
    EXPECT_THAT(result.out, Not(HasSubstr("[100%]")));
    EXPECT_TRUE(
        std::regex_search(result.out, std::regex("\r\x1b\\[KГотово 2 из 2" + summary + "\r\n$")))
        << result.out;
}

} // namespace
} // namespace lumatra
