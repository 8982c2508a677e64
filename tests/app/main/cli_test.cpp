// The command line, end to end: the built executable on generated files, its exact
// output, its exit status and what it leaves in the output folder.

#include "app/main/cli_support.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>
#include <tuple>

namespace lumatra {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

using test::lines;
using test::lumatra;

TEST(CommandLine, ConvertsAndNumbersTheSecondResult) {
    test::ScratchDir dir;
    test::makeTone(dir / "Моя песня.flac", 2);
    const auto first = lumatra({"--cli", "Моя песня.flac", "--to", "mp3"}, dir.path());
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.err, "");
    const auto out = lines(first.out);
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out.end()[-2], "[100%]");
    EXPECT_THAT(out.back(), MatchesRegex("Готово: " + (dir / "Моя песня.mp3").string() +
                                         " · [0-9]+ КБ · [0-9]+\\.[0-9] с"));
    const auto second =
        lumatra({"--quality", "Best", "--to", "MP3", "--cli", "Моя песня.flac"}, dir.path());
    EXPECT_EQ(second.status, 0);
    // "Best" is not a quality: balanced.
    EXPECT_EQ(test::probeField(dir / "Моя песня 2.mp3", "a", "bit_rate"), "192000");
    EXPECT_THAT(dir.entries(), ElementsAre("Моя песня 2.mp3", "Моя песня.flac", "Моя песня.mp3"));
}

// Usage mistakes (status 2) and what cannot work (status 1) are one Russian line, said
// before any work where they can be (at once for sources that are no regular files), and
// leave nothing behind.
TEST(CommandLine, EveryFailureIsOneLineAndLeavesNothing) {
    test::ScratchDir dir;
    test::makeClip(dir / "silent.mp4", 0.5, false);
    test::writeFile(dir / "notes.xyzzy", "x");
    // A name the file system would refuse only once the result is moved into place.
    const std::string stem(251, 'a');
    test::writeFile(dir / (stem + ".ogg"), "not even a sound");
    // A document the text converter finds damaged.
    test::writeFile(dir / "damaged.docx", std::string("PK\x03\x04", 4) + "word/document.xml" +
                                              std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    ASSERT_EQ(::mkfifo((dir / "f.json").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "song.mp3").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero.mp4");
    std::filesystem::create_symlink("/dev/zero", dir / "zero.csv");
    std::filesystem::create_directory(dir / "folder.mp3");
    std::filesystem::create_symlink("gone.wav", dir / "dangling.wav");
    // The kernel's files: "regular" to stat, yet endless or waiting for the kernel.
    std::filesystem::create_symlink("/proc/self/status", dir / "status.json");
    const auto at = [&](const std::string& name) { return (dir / name).string(); };
    const std::string targets =
        "Укажите --to. Для этого файла: mp3, m4a, wav, flac, alac, opus, ogg, aiff";
    const std::string jxl = "Ошибка: Так конвертировать нельзя: неизвестный тип .jxl";
    const std::string jobs = "Укажите --jobs числом от 1 до 256";
    const std::string notRegular = "Ошибка: Это не обычный файл: ";
    const std::string missing = "Ошибка: Файл не найден: ";
    struct Case {
        std::string args; // split at spaces
        int status;
        std::string line; // an empty line: any Russian reason
        bool mayShowProgress = false;
    };
    std::vector<Case> cases = {
        {"--cli song.wav", 2, targets},
        {"--cli song.wav --to mp5", 2, targets},
        {"--cli song.wav --to", 2, targets},
        {"--cli a.wav b.wav", 2, "Укажите --to ФОРМАТ. Форматы: lumatra --help"},
        {"--cli a.wav --to mp3 --jobs 0", 2, jobs},
        {"--cli a.wav --to mp3 --jobs 2x", 2, jobs},
        {"--cli a.wav --to mp3 --jobs", 2, jobs},
        {"--cli a.wav --to mp3 --fast", 2, "Неизвестный ключ --fast. Справка: lumatra --help"},
        {"--cli", 1, "Укажите файл: lumatra --cli ФАЙЛ --to ФОРМАТ"},
        // A type nothing is made from says so, with or without a target.
        {"--cli photo.jxl", 1, jxl},
        {"--cli photo.jxl --to", 1, jxl},
        {"--cli notes.xyzzy --to pdf", 1,
         "Ошибка: Так конвертировать нельзя: неизвестный тип .xyzzy"},
        {"--cli silent.mp4 --to mp3", 1, "Ошибка: В файле нет звуковой дорожки"},
        {"--cli missing.wav --to mp3", 1, missing + at("missing.wav")},
        {"--cli missing --to mp3", 1, missing + at("missing")},
        {"--cli dangling.wav --to mp3", 1, missing + at("dangling.wav")},
        {"--cli folder.mp3 --to wav", 1, "Ошибка: Это папка, а не файл: " + at("folder.mp3")},
        {"--cli silent.mp4 --to png", 1, "Ошибка: Так конвертировать нельзя: MP4 → PNG"},
        {"--cli " + stem + ".ogg --to flac", 1,
         "Ошибка: Не удалось сохранить результат «" + at(stem + ".flac") +
             "»: слишком длинное имя"},
        // A failure names the file the user knows, not the program's copy of it.
        {"--cli damaged.docx --to odt", 1,
         "Ошибка: Не удалось открыть «" + at("damaged.docx") +
             "»: файл повреждён или это не документ DOCX"},
    };
    std::vector<std::string> notRegularRuns = {"status.json --to csv", "f.json --to csv",
                                               "song.mp3 --to wav", "zero.mp4 --to webm",
                                               "zero.csv --to json"};
    // Only root may open /proc/kmsg, where a read waits for the kernel's next message.
    if (const int kmsg = ::open("/proc/kmsg", O_RDONLY | O_NONBLOCK | O_CLOEXEC); kmsg >= 0) {
        ::close(kmsg);
        for (const char* name : {"kmsg.json", "kmsg.mp3", "kmsg.md"})
            std::filesystem::create_symlink("/proc/kmsg", dir / name);
        notRegularRuns.insert(notRegularRuns.end(),
                              {"kmsg.json --to csv", "kmsg.mp3 --to wav", "kmsg.md --to txt"});
    }
    for (const auto& run : notRegularRuns)
        cases.push_back({"--cli " + run, 1, notRegular + at(run.substr(0, run.find(' ')))});
    // Unusual media files: cut short, garbage under media names, sound that cannot be
    // decoded. ffmpeg's own English never reaches the user.
    test::makeMedia(dir / "voice.mp4", {"-f", "lavfi", "-i", "sine=duration=0.5", "-c:a", "aac"});
    test::makeMedia(dir / "tone.wav", {"-f", "lavfi", "-i", "sine=duration=0.5"});
    test::makeMedia(dir / "clip.m2ts",
                    {"-f", "lavfi", "-i", "sine=duration=1", "-f", "lavfi", "-i",
                     "testsrc=size=160x120:duration=1", "-c:v", "mpeg2video", "-c:a", "ac3"});
    const std::string wav = test::readFile(dir / "tone.wav");
    const std::string clip = test::readFile(dir / "clip.m2ts");
    // A WAV header's fields: format tag at 20, channels at 22, sample rate at 24.
    const auto patched = [&wav](std::size_t at, std::string_view bytes) {
        return std::string(wav).replace(at, bytes.size(), bytes);
    };
    std::string noisy = clip.substr(0, 2000);
    for (std::uint32_t seed = 1; noisy.size() < clip.size();) {
        seed = seed * 1103515245 + 12345;
        noisy += static_cast<char>(seed >> 16);
    }
    const std::string corrupt = "Ошибка: Файл повреждён или это не аудио и не видео";
    const std::string noVideo = "Ошибка: Файл повреждён или это не видео";
    const std::string noSound = "Ошибка: В файле нет звука, который можно прочитать";
    const std::tuple<std::string, std::string, std::string, std::string> media[] = {
        {"voice.mp4", "", "mp4", "Ошибка: В файле нет видеодорожки"},
        {"garbage.mp4", std::string(5000, 'g'), "webm", noVideo},
        {"garbage.mp3", std::string(5000, 'g'), "wav", corrupt},
        {"empty.avi", "", "mp3", corrupt},
        {"cut.m2ts", clip.substr(0, 1500), "mp3", "Ошибка: В файле нет звуковой дорожки"},
        {"text.mov", "просто текст\n", "mp4", noVideo},
        {"no-channels.wav", patched(22, std::string("\0\0", 2)), "mp3", noSound},
        {"ac3-named.wav", patched(20, std::string("\0\x20", 2)), "mp3", noSound},
        {"zero-rate.wav", patched(24, std::string(4, '\0')), "ogg", ""},
        {"noise.m2ts", noisy, "mp4", ""},
        {"noise.mts", noisy, "mp3", ""},
    };
    for (const auto& [name, bytes, target, line] : media) {
        if (!bytes.empty() || name == "empty.avi") test::writeFile(dir / name, bytes);
        cases.push_back({"--cli " + name + " --to " + target, 1, line, true});
    }
    const auto before = dir.entries();
    for (const auto& c : cases) {
        std::istringstream words(c.args);
        const auto started = std::chrono::steady_clock::now();
        const auto result = lumatra({std::istream_iterator<std::string>(words), {}}, dir.path());
        // Sources that are no regular files are refused at once, never read.
        if (c.line.starts_with(notRegular)) {
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        }
        EXPECT_EQ(result.status, c.status) << c.args;
        auto out = lines(result.out);
        // A conversion that started may have shown its progress first.
        if (c.mayShowProgress && out.size() > 1 && out.front().starts_with("["))
            out.erase(out.begin());
        if (c.line.empty()) {
            ASSERT_EQ(out.size(), 1u) << result.out;
            EXPECT_THAT(out[0], ::testing::StartsWith("Ошибка: "));
            EXPECT_FALSE(std::regex_search(std::regex_replace(out[0], std::regex("ffmpeg"), ""),
                                           std::regex("[a-z]{2,}")))
                << out[0];
        } else {
            EXPECT_THAT(out, ElementsAre(c.line)) << c.args;
        }
    }
    EXPECT_EQ(dir.entries(), before);
    // No display: one line and status 1, not an abort inside Qt.
    const auto noDisplay = test::runProgram(
        {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", LUMATRA_BINARY},
        dir.path());
    EXPECT_EQ(noDisplay.status, 1);
    EXPECT_THAT(noDisplay.err, HasSubstr("Нет дисплея"));
    EXPECT_EQ(lines(noDisplay.err).size(), 1u);
    const auto help = lumatra({"--help"}, dir.path());
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("\n  Видео: mp3, m4a, wav, flac, alac, opus, ogg, aiff, "
                                    "mp4, hevc, mov, webm, mkv, gif\n"));
    EXPECT_EQ(lumatra({"-h"}, dir.path()).out, help.out);
}

// Names that look like options convert; control characters in names are shown escaped.
TEST(CommandLine, AwkwardNamesConvertAndAreShownAsOneLineEach) {
    test::ScratchDir dir;
    const std::string awkward[] = {"-x песня 'q\" ё.wav", "--to.wav", "a b.WAV"};
    for (const std::string& name : awkward)
        test::makeTone(dir / name, 0.2);
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
        {{"--cli", "./" + awkward[0], "./" + awkward[1], "./" + awkward[2], "--to", "ogg"},
         {"Готово: ", "Готово: ", "Готово: ", "Готово 3 из 3"}},
    };
    for (const auto& c : cases) {
        const auto result = lumatra(c.args, dir.path());
        auto printed = lines(result.out);
        std::erase_if(printed, [](const std::string& line) { return line.starts_with("["); });
        // One line each, in any order (a batch finishes as it goes).
        std::vector<::testing::Matcher<std::string>> starts;
        for (const auto& start : c.starts)
            starts.push_back(::testing::StartsWith(start));
        EXPECT_THAT(printed, ::testing::UnorderedElementsAreArray(starts)) << result.out;
        for (const char ch : result.out)
            EXPECT_TRUE(ch == '\n' || (static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7F))
                << result.out;
    }
}

// A signal once ffmpeg is at work cancels a single conversion and stops a batch (within
// a second), leaving neither a program nor a file behind. Killed outright, the run takes
// ffmpeg with it, and the next run removes what it left.
TEST(CommandLine, ASignalStopsTheRunAndLeavesNothing) {
    test::ScratchDir dir;
    // Twenty seconds of video that takes ffmpeg a while to convert.
    test::makeMedia(dir / "long.mkv",
                    {"-f", "lavfi", "-i", "testsrc=size=640x480:rate=25:duration=20", "-c:v",
                     "libx264", "-preset", "ultrafast"});
    test::makeTone(dir / "tone.wav", 0.2);
    const std::string video = (dir / "long.mkv").string();
    const std::string tone = (dir / "tone.wav").string();
    for (const auto& [signal, batch] : {std::pair{SIGTERM, false},
                                        {SIGINT, false},
                                        {SIGHUP, false},
                                        {SIGQUIT, false},
                                        {SIGINT, true},
                                        {SIGTERM, true},
                                        {SIGKILL, false}}) {
        SCOPED_TRACE(std::to_string(signal) + (batch ? " batch" : ""));
        std::chrono::steady_clock::time_point sent;
        std::jthread sender([&, signal = signal, batch = batch] {
            sent = test::signalOnceRunning("-i " + video, signal, batch ? tone : video);
        });
        const auto result =
            batch
                ? lumatra({"--cli", tone, video, video, "--to", "webm", "--jobs", "2"}, dir.path())
                : lumatra({"--cli", video, "--to", "hevc", "--quality", "best"}, dir.path());
        sender.join();
        EXPECT_EQ(result.status, signal == SIGKILL ? 128 + SIGKILL : 1);
        auto out = lines(result.out);
        std::erase_if(out, [](const std::string& line) { return line.starts_with("["); });
        if (batch) {
            EXPECT_THAT(
                out, ElementsAre("Пропущен: " + tone + ": не конвертируется в WEBM",
                                 MatchesRegex("Остановлено\\. Готово 0 из 2 · [0-9]+\\.[0-9] с")));
            // A second is the goal; the margin is for a loaded machine.
            EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(3));
        } else if (signal != SIGKILL) {
            EXPECT_THAT(out, ElementsAre("Ошибка: Отменено"));
        } else {
            EXPECT_EQ(dir.entries().size(), 3u) << "its private folder";
            EXPECT_EQ(lumatra({"--cli", "tone.wav", "--to", "mp3"}, dir.path()).status, 0);
            std::filesystem::remove(dir / "tone.mp3");
        }
        EXPECT_EQ(test::countRunning(dir.path().string()), 0) << "orphan left";
        EXPECT_THAT(dir.entries(), ElementsAre("long.mkv", "tone.wav"));
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
