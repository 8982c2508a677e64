// The command line with many files: the built executable on generated files, its lines,
// its exit status and what it leaves behind.

#include "app/main/cli_support.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <thread>

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

std::string escaped(const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

TEST(CommandLineBatch, ConvertsSeveralKindsAndSkipsWhatTheTargetDoesNotServe) {
    test::ScratchDir dir;
    test::makeMedia(dir / "picture.png",
                    {"-f", "lavfi", "-i", "testsrc=size=64x48", "-frames:v", "1"});
    test::makeClip(dir / "clip.mp4", 0.5, false);
    test::makeTone(dir / "song.wav", 0.3);
    const auto result =
        lumatra({"--cli", "picture.png", "clip.mp4", "song.wav", "--to", "GIF", "--out", "out"},
                dir.path());
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(result.err, "");
    const auto out = resultLines(result.out);
    ASSERT_EQ(out.size(), 4u) << result.out;
    EXPECT_EQ(out[0], "Пропущен: song.wav: не конвертируется в GIF");
    const std::vector<std::string> finished(out.begin() + 1, out.end() - 1);
    EXPECT_THAT(
        finished,
        UnorderedElementsAre(
            MatchesRegex("Готово: " + escaped((dir / "out/picture.gif").string()) + doneLine),
            MatchesRegex("Готово: " + escaped((dir / "out/clip.gif").string()) + doneLine)));
    EXPECT_THAT(out.back(), MatchesRegex("Готово 2 из 2" + summary));
    EXPECT_THAT(test::ScratchDir::entriesOf(dir / "out"), ElementsAre("clip.gif", "picture.gif"));
}

TEST(CommandLineBatch, AFailureLeavesTheOthersDone) {
    test::ScratchDir dir;
    test::makeTone(dir / "one.wav", 0.3);
    test::makeTone(dir / "two.wav", 0.3);
    test::writeFile(dir / "broken.wav", "not a recording");
    const auto result = lumatra(
        {"--cli", "one.wav", "broken.wav", "missing.wav", "two.wav", "--to", "mp3"}, dir.path());
    EXPECT_EQ(result.status, 1);
    const auto out = resultLines(result.out);
    ASSERT_EQ(out.size(), 5u) << result.out;
    EXPECT_THAT(std::vector<std::string>(out.begin(), out.end() - 1),
                UnorderedElementsAre(
                    MatchesRegex("Готово: " + escaped((dir / "one.mp3").string()) + doneLine),
                    MatchesRegex("Готово: " + escaped((dir / "two.mp3").string()) + doneLine),
                    MatchesRegex("Ошибка: broken\\.wav: .+"),
                    "Ошибка: missing.wav: Файл не найден: " + (dir / "missing.wav").string()));
    EXPECT_THAT(out.back(), MatchesRegex("Готово 2 из 4" + summary));
    EXPECT_THAT(dir.entries(),
                ElementsAre("broken.wav", "one.mp3", "one.wav", "two.mp3", "two.wav"));
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
    const auto done = [&](const std::string& name) {
        return MatchesRegex("Готово: " + escaped((dir / "out" / name).string()) + doneLine);
    };
    EXPECT_THAT(out,
                ElementsAre("Пропущен: in/notes.xyzzy: неизвестный тип файла",
                            "Пропущен: in/readme.txt: не конвертируется в OPUS",
                            "Пропущен: in/sub: папка внутри папки", done("a.opus"), done("B2.opus"),
                            done("b10.opus"), MatchesRegex("Готово 3 из 3" + summary)))
        << result.out;
}

TEST(CommandLineBatch, OutputsThatWouldCollideAreAllKept) {
    test::ScratchDir dir;
    for (const char* name : {"a.wav", "a.flac", "a.ogg", "a.aiff"})
        test::makeTone(dir / name, 0.3);
    std::filesystem::create_directory(dir / "out");
    test::writeFile(dir / "out/a.mp3", "already there");
    const auto result = lumatra({"--cli", "a.wav", "a.flac", "a.ogg", "a.aiff", "a.wav", "--to",
                                 "mp3", "--out", "out", "--jobs", "3"},
                                dir.path());
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_THAT(resultLines(result.out).back(), MatchesRegex("Готово 5 из 5" + summary));
    EXPECT_THAT(test::ScratchDir::entriesOf(dir / "out"),
                ElementsAre("a 2.mp3", "a 3.mp3", "a 4.mp3", "a 5.mp3", "a 6.mp3", "a.mp3"));
    EXPECT_TRUE(test::readFile(dir / "out/a.mp3") == "already there");
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

TEST(CommandLineBatch, UsageErrorsAndHelp) {
    test::ScratchDir dir;
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{"--cli", "a.wav", "b.wav"}, "Укажите --to ФОРМАТ. Форматы: lumatra --help\n"},
        {{"--cli", "a.wav", "--to", "mp3", "--jobs", "0"}, "Укажите --jobs числом от 1 до 256\n"},
        {{"--cli", "a.wav", "--to", "mp3", "--jobs", "2x"}, "Укажите --jobs числом от 1 до 256\n"},
        {{"--cli", "a.wav", "--to", "mp3", "--jobs"}, "Укажите --jobs числом от 1 до 256\n"},
        {{"--cli", "a.wav", "--to", "mp3", "--fast"},
         "Неизвестный ключ --fast. Справка: lumatra --help\n"},
    };
    for (const auto& c : cases) {
        const auto result = lumatra(c.args, dir.path());
        EXPECT_EQ(result.status, 2) << c.args.back();
        EXPECT_EQ(result.out, c.out);
    }
    EXPECT_TRUE(dir.entries().empty());
    for (const char* flag : {"--help", "-h"}) {
        const auto help = lumatra({flag}, dir.path());
        EXPECT_EQ(help.status, 0);
        EXPECT_THAT(help.out, HasSubstr("lumatra --cli ФАЙЛ… --to ФОРМАТ"));
        EXPECT_THAT(help.out, HasSubstr("\n  Аудио: mp3, m4a, wav, flac, alac, opus, ogg, aiff\n"));
        EXPECT_THAT(help.out, HasSubstr("\n  Видео: mp3, m4a, wav, flac, alac, opus, ogg, aiff, "
                                        "mp4, hevc, mov, webm, mkv, gif\n"));
    }
}

TEST(CommandLineBatch, InterruptionStopsEverythingAndLeavesNothing) {
    test::ScratchDir dir;
    test::makeMedia(dir / "long.mkv",
                    {"-f", "lavfi", "-i", "testsrc=size=640x480:rate=25:duration=20", "-c:v",
                     "libx264", "-preset", "ultrafast"});
    test::makeTone(dir / "tone.wav", 0.2);
    for (int signal : {SIGINT, SIGTERM}) {
        std::chrono::steady_clock::time_point sent;
        std::jthread sender([&] {
            for (int i = 0; i < 200; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                if (!test::runProgram({"pgrep", "-f", "--", "-i " + (dir / "long.mkv").string()})
                         .out.empty())
                    break;
            }
            sent = std::chrono::steady_clock::now();
            test::runProgram({"pkill", "-" + std::to_string(signal), "-f", "--",
                              "^" LUMATRA_BINARY " --cli " + (dir / "tone.wav").string()});
        });
        const auto result =
            lumatra({"--cli", (dir / "tone.wav").string(), (dir / "long.mkv").string(),
                     (dir / "long.mkv").string(), "--to", "webm", "--jobs", "2"},
                    dir.path());
        sender.join();
        const auto took = std::chrono::steady_clock::now() - sent;
        EXPECT_EQ(result.status, 1);
        EXPECT_THAT(
            resultLines(result.out),
            ElementsAre("Пропущен: " + (dir / "tone.wav").string() + ": не конвертируется в WEBM",
                        MatchesRegex("Остановлено\\. Готово 0 из 2" + summary)));
        // A second is the goal; the margin is for a loaded machine.
        EXPECT_LT(took, std::chrono::seconds(3));
        EXPECT_EQ(test::runProgram({"pgrep", "-f", "--", dir.path().string()}).out, "")
            << "orphan left";
        EXPECT_THAT(dir.entries(), ElementsAre("long.mkv", "tone.wav"));
    }
}

} // namespace
} // namespace lumatra
