#include "../pdf/pdf_samples.h"
#include "converter/converter.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace lumatra {
namespace {

using ::testing::ElementsAre;

// The tools found here, with a stand-in ffmpeg at `path` that prints the progress lines
// it is given, runs `extra` and writes its last argument.
Tools fakeFFmpeg(const std::filesystem::path& path, const std::string& progressLines,
                 const std::string& extra = "") {
    test::writeFile(path, "#!/bin/sh\nprintf '" + progressLines + "'\n" + extra +
                              "for last; do :; done\nprintf converted > \"$last\"\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    Tools tools = Tools::locate();
    tools.ffmpeg = path;
    return tools;
}

TEST(Converter, NamesNeverReplaceAnythingEvenWhenRunsRace) {
    test::ScratchDir dir, bin;
    test::makeTone(dir / "song.mp3", 0.1);
    const Converter converter(fakeFFmpeg(bin / "ffmpeg", ""));
    std::vector<std::jthread> threads;
    std::mutex mutex;
    std::set<std::filesystem::path> outputs;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            for (int j = 0; j < 4; ++j) {
                const auto result = converter.run(dir / "song.mp3", Format::mp3, {}, {});
                std::lock_guard lock(mutex);
                EXPECT_TRUE(outputs.insert(result.output).second) << result.output;
            }
        });
    }
    threads.clear();
    EXPECT_EQ(outputs.size(), 32u);
    EXPECT_TRUE(outputs.contains(dir / "song 2.mp3"));
    EXPECT_TRUE(outputs.contains(dir / "song 33.mp3"));

    // The extension comes from the format, not its name; a new output folder is made.
    Options elsewhere;
    elsewhere.outputDirectory = dir / "new" / "deeper";
    const auto result = converter.run(dir / "song.mp3", Format::alac, elsewhere, {});
    EXPECT_EQ(result.output, dir / "new" / "deeper" / "song.m4a");
    EXPECT_EQ(result.bytes, static_cast<std::int64_t>(std::filesystem::file_size(result.output)));
    // Folders of pages are named after the format's title.
    std::filesystem::create_directory(dir / "report — PNG");
    EXPECT_EQ(freeOutputName(dir.path(), "report", Format::png, true), dir / "report — PNG 2");
}

TEST(Converter, FailuresLeaveNothingBehind) {
    test::ScratchDir dir, bin;
    test::writeFile(dir / "notes.xyz", "x");
    test::writeFile(dir / "broken.wav", "not a wave file");
    test::makeClip(dir / "silent.mp4", 0.5, false);
    test::makeTone(dir / "tone.wav", 0.2);
    test::makeMedia(dir / "anim.gif",
                    {"-f", "lavfi", "-i", "testsrc=size=32x32:rate=5:duration=0.4"});
    const auto before = dir.entries();
    using enum ConvertError::Case;
    const std::string refused = "Так конвертировать нельзя: ";
    const std::string noFFmpeg = "Для аудио и видео нужен ffmpeg: sudo apt install ffmpeg";
    const std::string noSound = "В файле нет звуковой дорожки";
    const Tools here = Tools::locate();
    struct Case {
        const char* file;
        Format format;
        Tools tools;
        ConvertError::Case error;
        std::string text;
    } cases[] = {
        {"notes.xyz", Format::pdf, here, unsupported, refused + "неизвестный тип .xyz"},
        {"tone.wav", Format::png, here, unsupported, refused + "WAV → PNG"},
        {"tone.wav", Format::hevc, here, unsupported, refused + "WAV → MP4 HEVC"},
        {"broken.wav", Format::mp3, here, failed, "Файл повреждён или это не аудио и не видео"},
        // No ffmpeg at all, even for an animated picture to video.
        {"tone.wav", Format::mp3, Tools{}, missingFFmpeg, noFFmpeg},
        {"anim.gif", Format::webm, Tools{}, missingFFmpeg, noFFmpeg},
        // A silent video asked for sound, whether the ffmpeg started beside the probe has
        // finished its output already or would run on for long: it is stopped at once,
        // and what it wrote is not kept.
        {"silent.mp4", Format::mp3, fakeFFmpeg(bin / "done", ""), noAudio, noSound},
        {"silent.mp4", Format::mp3, fakeFFmpeg(bin / "slow", "", "sleep 30\n"), noAudio, noSound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto started = std::chrono::steady_clock::now();
        try {
            Converter(c.tools).run(dir / c.file, c.format, {}, {});
            ADD_FAILURE() << "converted";
        } catch (const ConvertError& error) {
            EXPECT_EQ(error.errorCase(), c.error);
            EXPECT_EQ(error.errorDescription(), c.text);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    }
    EXPECT_EQ(dir.entries(), before);
}

TEST(Converter, ProgressFollowsFFmpegsReportWithoutFFprobe) {
    test::ScratchDir dir, bin;
    test::makeTone(dir / "ten.wav", 10);
    Tools tools =
        fakeFFmpeg(bin / "ffmpeg", "frame=1\\nout_time_us=5000000\\nout_time_us=N/A\\n"
                                   "out_time_us=-1\\nout_time_us=99000000\\nprogress=end\\n");
    tools.ffprobe.reset(); // the duration is read in process
    std::vector<double> seen;
    Converter(tools).run(dir / "ten.wav", Format::mp3, {}, [&](double f) { seen.push_back(f); });
    EXPECT_THAT(seen, ElementsAre(0.5, 0.0, 0.99, 1.0));
}

TEST(Converter, ProbeGivesFFprobesAnswersInProcess) {
    test::ScratchDir dir;
    test::makeClip(dir / "silent.mp4", 1, false);
    test::makeClip(dir / "loud.mkv", 1.5, true);
    test::makeTone(dir / "tone.mp3", 2.5);
    test::makeMedia(dir / "anim.gif",
                    {"-f", "lavfi", "-i", "testsrc=size=32x32:rate=5:duration=0.8"});
    test::makeMedia(dir / "cover.png",
                    {"-f", "lavfi", "-i", "color=red:size=16x16", "-frames:v", "1"});
    test::makeMedia(dir / "covered.mp3",
                    {"-i", (dir / "tone.mp3").string(), "-i", (dir / "cover.png").string(), "-map",
                     "0", "-map", "1", "-c", "copy", "-disposition:v", "attached_pic"});
    // Containers whose streams or length show only once packets are read.
    test::makeClip(dir / "stream.ts", 1.2, true);
    test::makeMedia(dir / "raw.aac", {"-f", "lavfi", "-i", "sine=duration=1.7", "-c:a", "aac"});
    test::makeTone(dir / "tone.ogg", 1.3);
    test::makeMedia(dir / "clip.mpg",
                    {"-f", "lavfi", "-i", "testsrc=size=64x48:duration=1", "-f", "lavfi", "-i",
                     "sine=duration=1", "-c:v", "mpeg2video", "-c:a", "mp2", "-shortest"});
    const Converter converter(Tools{}); // no ffprobe needed
    for (const char* name : {"silent.mp4", "loud.mkv", "tone.mp3", "anim.gif", "covered.mp3",
                             "stream.ts", "raw.aac", "tone.ogg", "clip.mpg"}) {
        // ffprobe's own answers.
        const auto ours = converter.probe(dir / name);
        const std::string duration = test::probeField(dir / name, "format", "duration");
        EXPECT_TRUE(ours.readable) << name;
        EXPECT_NEAR(ours.duration, duration == "N/A" ? 0 : std::stod(duration), 1e-5) << name;
        EXPECT_EQ(ours.hasAudio, !test::probeField(dir / name, "a", "codec_type").empty()) << name;
    }
    EXPECT_TRUE(converter.probe(dir / "loud.mkv").hasVideo);
    // A cover picture is not a video track.
    EXPECT_FALSE(converter.probe(dir / "covered.mp3").hasVideo);
    EXPECT_FALSE(converter.probe(dir / "tone.mp3").hasVideo);

    // What cannot be read gives the default answer, marked unreadable, at once.
    test::writeFile(dir / "garbage.mp4", "garbage");
    test::writeFile(dir / "empty.mp3", "");
    ASSERT_EQ(::mkfifo((dir / "pipe.mp4").c_str(), 0600), 0);
    for (const char* name : {"garbage.mp4", "empty.mp3", "pipe.mp4", "missing.mp4"}) {
        const auto probe = converter.probe(dir / name);
        EXPECT_FALSE(probe.readable) << name;
        EXPECT_TRUE(probe.hasAudio) << name;
        EXPECT_EQ(probe.duration, 0) << name;
    }
}

TEST(Converter, CancellationStopsFFmpegAndRemovesTheScratchItem) {
    test::ScratchDir dir, bin;
    test::makeTone(dir / "long.wav", 5);
    const Tools tools =
        fakeFFmpeg(bin / "ffmpeg", "out_time_us=1000\\n",
                   "for last; do :; done\nprintf part > \"$last\"\nexec sleep 30\n");
    std::stop_source stop;
    std::atomic<bool> started = false;
    std::jthread canceller([&] {
        while (!started)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stop.request_stop();
    });
    EXPECT_THROW(
        Converter(tools).run(
            dir / "long.wav", Format::mp3, {}, [&](double) { started = true; }, stop.get_token()),
        CancelledError);
    EXPECT_THAT(dir.entries(), ElementsAre("long.wav"));
}

TEST(Converter, ResultsKeepTheSourcesModificationTime) {
    test::ScratchDir dir;
    test::makeTone(dir / "song.wav", 0.2);
    test::writeFile(dir / "table.json", R"([{"a": 1}, {"a": 2}])");
    test::writeFile(dir / "pages.pdf", test::samplePdf(test::textPages(2)));
    test::makeMedia(dir / "photo.png", {"-f", "lavfi", "-i", "testsrc=s=32x32", "-frames:v", "1"});
    const struct timespec then[2] = {{0, UTIME_OMIT}, {981'173'106, 0}}; // 2001-02-03
    const std::pair<const char*, Format> cases[] = {{"song.wav", Format::mp3},
                                                    {"table.json", Format::csv},
                                                    {"pages.pdf", Format::png},
                                                    {"photo.png", Format::jpg}};
    const Converter converter(Tools::locate());
    for (const auto& [name, format] : cases) {
        SCOPED_TRACE(name);
        ASSERT_EQ(::utimensat(AT_FDCWD, (dir / name).c_str(), then, 0), 0);
        Options options;
        options.outputDirectory = dir / "out";
        const auto output = converter.run(dir / name, format, options, {}).output;
        const auto time = std::filesystem::last_write_time(dir / name);
        EXPECT_EQ(std::filesystem::last_write_time(output), time);
        if (std::filesystem::is_directory(output)) {
            for (const auto& page : std::filesystem::directory_iterator(output))
                EXPECT_EQ(page.last_write_time(), time) << page.path();
        }
    }
    EXPECT_NE(std::filesystem::last_write_time(dir / "out"),
              std::filesystem::last_write_time(dir / "song.wav"));
}

} // namespace
} // namespace lumatra
