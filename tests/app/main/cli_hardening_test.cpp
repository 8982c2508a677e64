// The command line under hostile sources, dying processes, full disks and missing
// displays: the built executable, its exact lines, and what it leaves behind.

#include "app/main/cli_support.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <array>
#include <chrono>
#include <regex>
#include <thread>

namespace lumatra {
namespace {

using test::lines;
using test::lumatra;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

using Clock = std::chrono::steady_clock;

TEST(CommandLine, SourcesThatAreNoRegularFilesAreRefusedAtOnce) {
    test::ScratchDir dir;
    ASSERT_EQ(::mkfifo((dir / "f.json").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "song.mp3").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero.mp4");
    std::filesystem::create_symlink("/dev/zero", dir / "zero.csv");
    std::filesystem::create_directory(dir / "folder.mp3");
    std::filesystem::create_symlink(dir / "gone.wav", dir / "dangling.wav");
    // The kernel's files: "regular" to stat, yet endless or waiting for the kernel.
    std::filesystem::create_symlink("/proc/self/status", dir / "status.json");
    const std::string notRegular = "Ошибка: Это не обычный файл: ";
    const std::string missing = "Ошибка: Файл не найден: ";
    std::vector<std::array<std::string, 3>> cases = {
        // source, target, the line's start
        {"status.json", "csv", notRegular}, {"f.json", "csv", notRegular},
        {"song.mp3", "wav", notRegular},    {"zero.mp4", "webm", notRegular},
        {"zero.csv", "json", notRegular},   {"folder.mp3", "wav", "Ошибка: Это папка, а не файл: "},
        {"missing", "mp3", missing},        {"dangling.wav", "mp3", missing},
    };
    // Only root may open /proc/kmsg, where a read waits for the kernel's next message.
    if (const int kmsg = ::open("/proc/kmsg", O_RDONLY | O_NONBLOCK | O_CLOEXEC); kmsg >= 0) {
        ::close(kmsg);
        for (const auto& [name, target] :
             {std::pair{"kmsg.json", "csv"}, {"kmsg.mp3", "wav"}, {"kmsg.md", "txt"}}) {
            std::filesystem::create_symlink("/proc/kmsg", dir / name);
            cases.push_back({name, target, notRegular});
        }
    }
    const auto before = dir.entries();
    for (const auto& [name, target, said] : cases) {
        const auto started = Clock::now();
        const auto result = lumatra({"--cli", name, "--to", target}, dir.path());
        EXPECT_EQ(result.out, said + (dir / name).string() + "\n");
        EXPECT_EQ(result.status, 1) << name;
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(5)) << name;
    }
    EXPECT_EQ(dir.entries(), before);
}

// Unusual media files: cut short, garbage under media names, sound that cannot be decoded.
// Each failure is one Russian line; ffmpeg's own English never reaches the user.
TEST(CommandLine, MediaFailuresReadInRussian) {
    test::ScratchDir dir;
    test::makeMedia(dir / "voice.mp4", {"-f", "lavfi", "-i", "sine=duration=0.5", "-c:a", "aac"});
    test::makeMedia(dir / "tone.wav", {"-f", "lavfi", "-i", "sine=duration=0.5"});
    test::makeMedia(dir / "clip.m2ts",
                    {"-f", "lavfi", "-i", "sine=duration=1", "-f", "lavfi", "-i",
                     "testsrc=size=160x120:duration=1", "-c:v", "mpeg2video", "-c:a", "ac3"});
    const std::string wav = test::readFile(dir / "tone.wav");
    const std::string clip = test::readFile(dir / "clip.m2ts");
    // A WAV header's fields: format tag at 20, channels at 22, sample rate at 24.
    const auto patched = [&wav](std::size_t at, std::string_view bytes) {
        std::string out = wav;
        out.replace(at, bytes.size(), bytes);
        return out;
    };
    std::string noisy = clip.substr(0, 2000);
    std::uint32_t seed = 1;
    while (noisy.size() < clip.size()) {
        seed = seed * 1103515245 + 12345;
        noisy += static_cast<char>(seed >> 16);
    }
    const std::string corrupt = "Ошибка: Файл повреждён или это не аудио и не видео";
    const std::string noSound = "Ошибка: В файле нет звука, который можно прочитать";
    struct Case {
        std::string name, bytes, target, line; // an empty line: any Russian reason
    } cases[] = {
        {"voice.mp4", "", "mp4", "Ошибка: В файле нет видеодорожки"},
        {"garbage.mp4", std::string(5000, 'g'), "webm", "Ошибка: Файл повреждён или это не видео"},
        {"garbage.mp3", std::string(5000, 'g'), "wav", corrupt},
        {"empty.avi", "", "mp3", corrupt},
        {"cut.m2ts", clip.substr(0, 1500), "mp3", "Ошибка: В файле нет звуковой дорожки"},
        {"text.mov", "просто текст\n", "mp4", "Ошибка: Файл повреждён или это не видео"},
        {"no-channels.wav", patched(22, std::string("\0\0", 2)), "mp3", noSound},
        {"ac3-named.wav", patched(20, std::string("\0\x20", 2)), "mp3", noSound},
        {"zero-rate.wav", patched(24, std::string(4, '\0')), "ogg", ""},
        {"noise.m2ts", noisy, "mp4", ""},
        {"noise.mts", noisy, "mp3", ""},
    };
    for (const Case& c : cases)
        if (!c.bytes.empty() || c.name == "empty.avi") test::writeFile(dir / c.name, c.bytes);
    const auto before = dir.entries();
    for (const Case& c : cases) {
        const auto result = lumatra({"--cli", c.name, "--to", c.target}, dir.path());
        const auto out = lines(result.out);
        ASSERT_FALSE(out.empty()) << c.name;
        EXPECT_EQ(result.status, 1) << c.name;
        EXPECT_TRUE(c.line.empty() ? out.back().starts_with("Ошибка: ") : out.back() == c.line)
            << c.name << ": " << out.back();
        // One line, and no English word in it but the program's name.
        EXPECT_EQ(out.size() - (out.front().starts_with("[") ? 1 : 0), 1u) << result.out;
        std::string words = out.back();
        for (std::size_t at; (at = words.find("ffmpeg")) != std::string::npos;)
            words.erase(at, 6);
        EXPECT_FALSE(std::regex_search(words, std::regex("[a-z]{2,}")))
            << c.name << ": " << out.back();
    }
    EXPECT_EQ(dir.entries(), before);
}

TEST(CommandLine, TheTiniestPicturesConvertToEveryVideoTarget) {
    test::ScratchDir dir;
    for (const char* size : {"1x1", "2x2", "3x1"}) {
        const std::string name = std::string("tiny") + size + ".mkv";
        test::makeMedia(dir / name, {"-f", "lavfi", "-i", "color=red:size=4x4:rate=5:duration=0.4",
                                     "-vf", std::string("scale=") + size, "-c:v", "ffv1"});
        for (const char* target : {"mp4", "hevc", "webm", "gif"}) {
            const auto result =
                lumatra({"--cli", name, "--to", target, "--out", "out"}, dir.path());
            EXPECT_EQ(result.status, 0) << size << " " << target << ": " << result.out;
        }
    }
    EXPECT_EQ(test::ScratchDir::entriesOf(dir / "out").size(), 12u);
}

// Each family meets a full disk, a document as it moves into the private folder too:
// the line says so, names none of the program's own places, and nothing is left.
TEST(CommandLine, AFullDiskIsSaidSoAndLeavesNothing) {
    if (!test::namespacesAllowed()) GTEST_SKIP() << "no mount namespaces here";
    test::ScratchDir dir;
    test::makeTone(dir / "tone.wav", 3);
    std::string table = "name;value\n";
    while (table.size() < 300'000)
        table += "строка;12345\n";
    test::writeFile(dir / "table.csv", table);
    std::string notes = "# Заметки\n\n";
    while (notes.size() < 400'000)
        notes += "Строка заметок, которая займёт место на маленьком диске.\n\n";
    test::writeFile(dir / "notes.md", notes);
    test::makeMedia(dir / "noise.png",
                    {"-f", "lavfi", "-i",
                     "nullsrc=size=320x320,geq=lum=random(1)*255:cb=128:cr=128,format=rgb24",
                     "-frames:v", "1"});
    for (const auto& [file, target] : {std::pair{"tone.wav", "wav"},
                                       {"table.csv", "json"},
                                       {"noise.png", "png"},
                                       {"noise.png", "pdf"},
                                       {"notes.md", "rtf"}}) {
        // A 64 KiB disk of its own; what is on it afterwards is listed after the status.
        const auto result = test::runProgram(
            {"unshare", "--mount", "--map-root-user", "sh", "-c",
             "mkdir -p small && mount -t tmpfs -o size=64k tmpfs small && "
             "\"$0\" --cli \"$1\" --to \"$2\" --out small; echo \"status $?\"; ls -A small",
             LUMATRA_BINARY, file, target},
            dir.path());
        const auto out = lines(result.out);
        ASSERT_GE(out.size(), 2u) << result.out;
        // Progress may come first; nothing is left on the disk.
        EXPECT_THAT(std::vector(out.end() - 2, out.end()),
                    ElementsAre("Ошибка: На диске не хватило места", "status 1"))
            << file;
        for (const std::string& line : out) {
            EXPECT_THAT(line, Not(HasSubstr("/proc/")));
            EXPECT_THAT(line, Not(HasSubstr(".lumatra-")));
        }
    }
}

TEST(CommandLine, ProgramsDieWithUsAndTheNextRunClearsWhatWasLeft) {
    test::ScratchDir dir;
    test::makeLongVideo(dir / "long.mkv");
    test::makeTone(dir / "tone.wav", 0.2);
    const std::string video = (dir / "long.mkv").string();
    std::jthread killer([&] { test::signalOnceRunning("-i " + video, SIGKILL, video); });
    const auto killed = lumatra({"--cli", video, "--to", "webm"}, dir.path());
    killer.join();
    EXPECT_EQ(killed.status, 128 + SIGKILL);
    for (int i = 0; i < 40 && test::countRunning("-i " + video) > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(test::countRunning("-i " + video), 0) << "ffmpeg outlived us";
    // Its private folder is still there; the next run in the folder removes it.
    EXPECT_EQ(dir.entries().size(), 3u);
    EXPECT_EQ(lumatra({"--cli", "tone.wav", "--to", "mp3"}, dir.path()).status, 0);
    EXPECT_THAT(dir.entries(), ElementsAre("long.mkv", "tone.mp3", "tone.wav"));
}

TEST(CommandLine, AClosedOutputNeverStopsTheConversion) {
    test::ScratchDir dir;
    test::makeTone(dir / "tone.wav", 20);
    // head leaves after the first line; every later line meets a closed pipe.
    const auto result = test::runProgram(
        {"bash", "-c", "\"$0\" --cli tone.wav --to flac | head -1; echo \"${PIPESTATUS[0]}\"",
         LUMATRA_BINARY},
        dir.path());
    EXPECT_THAT(lines(result.out), ElementsAre(::testing::StartsWith("["), "0"));
    EXPECT_THAT(dir.entries(), ElementsAre("tone.flac", "tone.wav"));
}

mode_t modeOf(const std::filesystem::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 0777;
}

TEST(CommandLine, ResultsAreNoMoreVisibleThanTheirSources) {
    test::ScratchDir dir;
    test::makeTone(dir / "tone.wav", 0.2);
    test::writeFile(dir / "table.csv", "a;b\n1;2\n");
    struct Case {
        const char* source;
        const char* target;
        const char* result;
        mode_t sourceMode;
        const char* umask;
        mode_t expected;
    };
    const Case cases[] = {
        {"tone.wav", "mp3", "tone.mp3", 0600, "022", 0600},
        {"tone.wav", "mp3", "tone.mp3", 0644, "077", 0600},
        {"tone.wav", "mp3", "tone.mp3", 0664, "002", 0664},
        {"table.csv", "json", "table.json", 0640, "022", 0640},
        {"table.csv", "json", "table.json", 0755, "022", 0644}, // never executable
    };
    for (const Case& c : cases) {
        std::filesystem::permissions(dir / c.source,
                                     static_cast<std::filesystem::perms>(c.sourceMode));
        const auto result = test::runProgram(
            {"sh", "-c", std::string("umask ") + c.umask + " && exec \"$0\" \"$@\"", LUMATRA_BINARY,
             "--cli", c.source, "--to", c.target},
            dir.path());
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_EQ(modeOf(dir / c.result), c.expected) << c.source << " " << c.umask;
        std::filesystem::remove(dir / c.result);
    }
}

} // namespace
} // namespace lumatra
