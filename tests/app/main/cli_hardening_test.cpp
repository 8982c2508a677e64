// The command line at the edges: the tiniest pictures, a full disk, a closed output,
// private sources: the built executable, its exact lines, and what it leaves behind.

#include "app/main/cli_support.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

namespace lumatra {
namespace {

using test::lines;
using test::lumatra;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(CommandLine, TheTiniestPicturesConvertToEveryVideoTarget) {
    test::ScratchDir dir;
    for (const char* size : {"1x1", "2x2", "3x1"})
        test::makeMedia(dir / (std::string(size) + ".mkv"),
                        {"-f", "lavfi", "-i", "color=red:size=4x4:rate=5:duration=0.4", "-vf",
                         std::string("scale=") + size, "-c:v", "ffv1"});
    for (const char* target : {"mp4", "hevc", "webm", "gif"}) {
        const auto result = lumatra(
            {"--cli", "1x1.mkv", "2x2.mkv", "3x1.mkv", "--to", target, "--out", "out"}, dir.path());
        EXPECT_EQ(result.status, 0) << target << ": " << result.out;
    }
    EXPECT_EQ(test::ScratchDir::entriesOf(dir / "out").size(), 12u);
}

// Each family meets a full disk, a document as it moves into the private folder too; a
// run meets a read-only disk, and ffmpeg missing: the line says so, names none of the
// program's own places, and nothing is left.
TEST(CommandLine, AFullOrReadOnlyDiskAndAMissingFFmpegAreSaidSoAndLeaveNothing) {
    if (test::runProgram({"unshare", "--mount", "--map-root-user", "true"}).status != 0)
        GTEST_SKIP() << "no mount namespaces here";
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
    const std::string full = "Ошибка: На диске не хватило места";
    // Every place ffmpeg is looked for shows nothing executable.
    const std::string noFFmpeg =
        "for f in /usr/bin /usr/local/bin /opt/homebrew/bin /opt/local/bin; "
        "do [ ! -e $f/ffmpeg ] || mount --bind /dev/null $f/ffmpeg; done";
    // more set-up, the run's arguments, its line
    const std::tuple<std::string, const char*, std::string> runs[] = {
        {"true", "tone.wav --to wav", full},
        {"true", "table.csv --to json", full},
        {"true", "noise.png --to png", full},
        {"true", "noise.png --to pdf", full},
        {"true", "notes.md --to rtf", full},
        {"mount -o remount,ro small", "tone.wav --to mp3",
         "Ошибка: Не удалось записать в папку «" + (dir / "small").string() +
             "»: диск только для чтения"},
        {noFFmpeg, "tone.wav --to mp3",
         "Ошибка: Для аудио и видео нужен ffmpeg: sudo apt install ffmpeg"},
    };
    for (const auto& [setup, run, said] : runs) {
        // A 64 KiB disk of its own; what is on it afterwards is listed after the status.
        const auto result = test::runProgram(
            {"unshare", "--mount", "--map-root-user", "sh", "-c",
             "mkdir -p small && mount -t tmpfs -o size=64k tmpfs small && " + setup +
                 " && \"$0\" --cli $1 --out small; echo \"status $?\"; ls -A small",
             LUMATRA_BINARY, run},
            dir.path());
        const auto out = lines(result.out);
        ASSERT_GE(out.size(), 2u) << result.out;
        // Progress may come first; nothing is left on the disk.
        EXPECT_THAT(std::vector(out.end() - 2, out.end()), ElementsAre(said, "status 1")) << run;
        for (const std::string& line : out) {
            EXPECT_THAT(line, Not(HasSubstr("/proc/")));
            EXPECT_THAT(line, Not(HasSubstr(".lumatra-")));
        }
    }
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

TEST(CommandLine, ResultsAreNoMoreVisibleThanTheirSources) {
    test::ScratchDir dir;
    test::makeTone(dir / "tone.wav", 0.2);
    test::writeFile(dir / "table.csv", "a;b\n1;2\n");
    // the source's name, target, the source's mode, umask, the result's mode
    const std::tuple<std::string, std::string, int, const char*, int> cases[] = {
        {"tone", "mp3", 0600, "022", 0600},   {"tone", "mp3", 0644, "077", 0600},
        {"tone", "mp3", 0664, "002", 0664},   {"table", "json", 0640, "022", 0640},
        {"table", "json", 0755, "022", 0644}, // never executable
    };
    for (const auto& [name, target, sourceMode, umask, expected] : cases) {
        const auto source = dir / (name + (target == "mp3" ? ".wav" : ".csv"));
        std::filesystem::permissions(source, static_cast<std::filesystem::perms>(sourceMode));
        const auto result =
            test::runProgram({"sh", "-c", std::string("umask ") + umask + " && exec \"$0\" \"$@\"",
                              LUMATRA_BINARY, "--cli", source.string(), "--to", target});
        EXPECT_EQ(result.status, 0) << result.out;
        const auto made = dir / (name + "." + target);
        EXPECT_EQ(static_cast<int>(std::filesystem::status(made).permissions()), expected)
            << name << " " << umask;
        std::filesystem::remove(made);
    }
}

} // namespace
} // namespace lumatra
