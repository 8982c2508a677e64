// The command line, end to end: the built executable on generated files, its exact
// output, its exit status and what it leaves in the output folder.

#include "app/main/cli_support.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <thread>

namespace lumatra {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;

using test::lines;
using test::lumatra;
using test::lumatraIsolated;

TEST(CommandLine, ConvertsAndNumbersTheSecondResult) {
    test::ScratchDir dir;
    test::makeTone(dir / "Моя песня.flac", 2);
    const auto first = lumatra({"--cli", "Моя песня.flac", "--to", "mp3"}, dir.path());
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.err, "");
    const auto out = lines(first.out);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.end()[-2], "[100%]");
    EXPECT_THAT(out.back(), MatchesRegex("Готово: " + (dir / "Моя песня.mp3").string() +
                                         " · [0-9]+ КБ · [0-9]+\\.[0-9] с"));
    const auto second =
        lumatra({"--quality", "Best", "--to", "MP3", "--cli", "Моя песня.flac"}, dir.path());
    EXPECT_EQ(second.status, 0);
    EXPECT_THAT(lines(second.out).back(), ::testing::HasSubstr("Моя песня 2.mp3"));
    // "Best" is not a quality: balanced.
    EXPECT_EQ(test::probeField(dir / "Моя песня 2.mp3", "a", "bit_rate"), "192000");
    EXPECT_THAT(dir.entries(), ElementsAre("Моя песня 2.mp3", "Моя песня.flac", "Моя песня.mp3"));
}

TEST(CommandLine, MissingOrUnknownTargetListsTheTargets) {
    test::ScratchDir dir;
    const std::string list =
        "Укажите --to. Для этого файла: mp3, m4a, wav, flac, alac, opus, ogg, aiff\n";
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--cli", "song.mp3"},
                                               {"--cli", "song.mp3", "--to", "mp5"},
                                               {"--cli", "song.mp3", "--to"}}) {
        const auto result = lumatra(args, dir.path());
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, list);
    }
    // A type nothing is made from says so, with or without a target.
    for (const auto& args : std::vector<std::vector<std::string>>{{"--cli", "photo.jxl"},
                                                                  {"--cli", "photo.jxl", "--to"}}) {
        const auto none = lumatra(args, dir.path());
        EXPECT_EQ(none.out, "Ошибка: Так конвертировать нельзя: неизвестный тип .jxl\n");
        EXPECT_EQ(none.status, 1);
    }
}

TEST(CommandLine, FailuresPrintOneErrorLineAndLeaveNothing) {
    test::ScratchDir dir;
    test::makeClip(dir / "silent.mp4", 0.5, false);
    test::writeFile(dir / "notes.xyzzy", "x");
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    const Case cases[] = {
        {{"--cli", "notes.xyzzy", "--to", "pdf"},
         "Ошибка: Так конвертировать нельзя: неизвестный тип .xyzzy"},
        {{"--cli", "silent.mp4", "--to", "mp3"}, "Ошибка: В файле нет звуковой дорожки"},
        {{"--cli", "missing.wav", "--to", "mp3"},
         "Ошибка: Файл не найден: " + (dir / "missing.wav").string()},
        {{"--cli", "silent.mp4", "--to", "png"}, "Ошибка: Так конвертировать нельзя: MP4 → PNG"},
    };
    const auto before = dir.entries();
    for (const auto& c : cases) {
        const auto result = lumatra(c.args, dir.path());
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, c.line + "\n");
    }
    EXPECT_EQ(dir.entries(), before);
}

TEST(CommandLine, AwkwardNamesConvert) {
    test::ScratchDir dir;
    for (const std::string name : {"-x песня 'q\" ё.wav", "--to.wav", "a b.WAV"}) {
        test::makeTone(dir / name, 0.2);
        const auto result = lumatra({"--cli", "./" + name, "--to", "ogg"}, dir.path());
        EXPECT_EQ(result.status, 0) << name << result.out;
        const auto stem = name.substr(0, name.rfind('.'));
        EXPECT_TRUE(std::filesystem::exists(dir / (stem + ".ogg"))) << name;
    }
}

TEST(CommandLine, ControlCharactersInNamesAreShownEscaped) {
    test::ScratchDir dir;
    test::writeFile(dir / "two\nlines.csv", "a;b\n1;2\n");
    test::writeFile(dir / "bell\a\x1b[2J.csv", "a;b\n1;2\n");
    test::writeFile(dir / "bad\tname.json", "{");
    const std::string folder = dir.path().string();
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> starts; // how each printed line begins
    };
    const Case cases[] = {
        {{"--cli", "two\nlines.csv", "--to", "json"},
         {"Готово: " + folder + "/two\\nlines.json · "}},
        {{"--cli", "bad\tname.json", "--to", "csv"}, {"Ошибка: "}},
        {{"--cli", "two\nlines.csv", "bell\a\x1b[2J.csv", "--to", "json"},
         {"Готово: " + folder + "/two\\nlines 2.json · ",
          "Готово: " + folder + "/bell\\x07\\x1B[2J.json · ", "Готово 2 из 2"}},
    };
    for (const auto& c : cases) {
        const auto result = lumatra(c.args, dir.path());
        auto printed = lines(result.out);
        std::erase_if(printed, [](const std::string& line) { return line.starts_with("["); });
        // One line each, in any order (a batch finishes as it goes).
        ASSERT_EQ(printed.size(), c.starts.size()) << result.out;
        for (const auto& start : c.starts)
            EXPECT_TRUE(
                std::any_of(printed.begin(), printed.end(),
                            [&](const std::string& line) { return line.starts_with(start); }))
                << start << " in " << result.out;
        for (const char ch : result.out)
            EXPECT_TRUE(ch == '\n' || (static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7F))
                << result.out;
    }
}

TEST(CommandLine, MissingFFmpegAndReadOnlyFolder) {
    if (test::runProgram({"unshare", "--mount", "--map-root-user", "true"}).status != 0)
        GTEST_SKIP() << "no mount namespaces here";
    test::ScratchDir dir;
    test::makeTone(dir / "tone.wav", 0.2);
    std::filesystem::create_directory(dir / "ro");
    // Every place ffmpeg is looked for shows nothing executable.
    std::string hide = "true";
    for (const char* folder : {"/usr/bin", "/usr/local/bin", "/opt/homebrew/bin", "/opt/local/bin"})
        hide += std::string(" && { [ ! -e ") + folder + "/ffmpeg ] || mount --bind /dev/null " +
                folder + "/ffmpeg; }";
    const auto missing = lumatraIsolated(hide, {"--cli", "tone.wav", "--to", "mp3"}, dir.path());
    EXPECT_EQ(missing.out, "Ошибка: Для аудио и видео нужен ffmpeg: sudo apt install ffmpeg\n");
    EXPECT_EQ(missing.status, 1);

    const auto readOnly =
        lumatraIsolated("mount --bind ro ro && mount -o remount,bind,ro ro",
                        {"--cli", "tone.wav", "--to", "mp3", "--out", "ro"}, dir.path());
    EXPECT_EQ(readOnly.out, "Ошибка: Не удалось записать в папку «" + (dir / "ro").string() +
                                "»: диск только для чтения\n");
    EXPECT_EQ(readOnly.status, 1);
    EXPECT_THAT(dir.entries(), ElementsAre("ro", "tone.wav"));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "ro"));
}

TEST(CommandLine, TerminationCancelsAndCleansUp) {
    test::ScratchDir dir;
    test::makeMedia(dir / "long.mkv",
                    {"-f", "lavfi", "-i", "testsrc=size=640x480:rate=25:duration=20", "-c:v",
                     "libx264", "-preset", "ultrafast"});
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        // Send the signal once ffmpeg is at work.
        std::jthread sender([&] {
            for (int i = 0; i < 200; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                const auto pids =
                    test::runProgram({"pgrep", "-f", "--", "-i " + (dir / "long.mkv").string()})
                        .out;
                if (!pids.empty()) break;
            }
            // Only this test's run: other tests may run the program at the same time.
            test::runProgram({"pkill", "-" + std::to_string(signal), "-f", "--",
                              "^" LUMATRA_BINARY " --cli " + (dir / "long.mkv").string()});
        });
        const auto result =
            lumatra({"--cli", (dir / "long.mkv").string(), "--to", "hevc", "--quality", "best"},
                    dir.path());
        sender.join();
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(lines(result.out).back(), "Ошибка: Отменено");
        EXPECT_EQ(test::runProgram({"pgrep", "-f", "--", dir.path().string()}).out, "")
            << "orphan left";
        EXPECT_THAT(dir.entries(), ElementsAre("long.mkv"));
    }
}

TEST(Window, TerminationQuitsTheOrdinaryWay) {
    // Quitting through the application lets the store stop its conversion and remove
    // the unfinished output; dying on the signal would leave both behind.
    test::ScratchDir dir;
    test::makeTone(dir / "tone.wav", 0.2);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::jthread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        test::runProgram(
            {"pkill", "-TERM", "-f", "--", "^" LUMATRA_BINARY " " + (dir / "tone.wav").string()});
    });
    const auto result = lumatra({(dir / "tone.wav").string()}, dir.path());
    sender.join();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(dir.entries(), ElementsAre("tone.wav"));
}

} // namespace
} // namespace lumatra
