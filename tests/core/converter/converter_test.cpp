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

// A stand-in ffmpeg: records that it ran, prints the progress lines it is given and
// writes its last argument.
std::filesystem::path fakeFFmpeg(const test::ScratchDir& dir, const std::string& progressLines,
                                 const std::string& extra = "") {
    const auto path = dir / "bin" / "ffmpeg";
    std::filesystem::create_directories(path.parent_path());
    test::writeFile(path, "#!/bin/sh\ntouch '" + (dir / "ffmpeg-ran").string() + "'\n" +
                              "printf '" + progressLines + "'\n" + extra +
                              "for last; do :; done\nprintf converted > \"$last\"\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

TEST(Converter, RefusesRoutesTheCatalogDoesNotOffer) {
    test::ScratchDir dir;
    test::writeFile(dir / "notes.xyz", "x");
    test::writeFile(dir / "song.mp3", "x");
    const Converter converter(Tools::locate());
    const auto refusal = [&](const char* file, Format format) {
        try {
            converter.run(dir / file, format, {}, {});
        } catch (const ConvertError& error) {
            EXPECT_EQ(error.errorCase(), ConvertError::Case::unsupported);
            return error.errorDescription();
        }
        return std::string("(converted)");
    };
    EXPECT_EQ(refusal("notes.xyz", Format::pdf), "Так конвертировать нельзя: неизвестный тип .xyz");
    EXPECT_EQ(refusal("song.mp3", Format::png), "Так конвертировать нельзя: MP3 → PNG");
    EXPECT_EQ(refusal("song.mp3", Format::hevc), "Так конвертировать нельзя: MP3 → MP4 HEVC");
    EXPECT_THAT(dir.entries(), ElementsAre("notes.xyz", "song.mp3"));
}

TEST(Converter, NamesNeverReplaceExistingItems) {
    test::ScratchDir dir;
    test::makeTone(dir / "song.mp3", 0.2);
    const Converter converter(Tools::locate());
    std::vector<double> progress;
    const auto first =
        converter.run(dir / "song.mp3", Format::mp3, {}, [&](double f) { progress.push_back(f); });
    const auto second = converter.run(dir / "song.mp3", Format::mp3, {}, {});
    EXPECT_EQ(first.output, dir / "song 2.mp3");
    EXPECT_EQ(second.output, dir / "song 3.mp3");
    EXPECT_EQ(first.bytes, static_cast<std::int64_t>(std::filesystem::file_size(first.output)));
    EXPECT_GT(first.seconds, 0);
    EXPECT_EQ(progress.back(), 1.0);

    // The extension comes from the format, not its name; a new output folder is made.
    Options elsewhere;
    elsewhere.outputDirectory = dir / "new" / "deeper";
    EXPECT_EQ(converter.run(dir / "song.mp3", Format::alac, elsewhere, {}).output,
              dir / "new" / "deeper" / "song.m4a");
    // Folders of pages are named after the format's title.
    std::filesystem::create_directory(dir / "report — PNG");
    EXPECT_EQ(freeOutputName(dir.path(), "report", Format::png, true), dir / "report — PNG 2");
}

TEST(Converter, ConcurrentRunsNeverShareOrOverwriteANameEvenWhenRacing) {
    test::ScratchDir dir;
    test::makeTone(dir / "song.wav", 0.1);
    Tools tools;
    tools.ffmpeg = fakeFFmpeg(dir, "");
    const Converter converter(tools);
    std::vector<std::jthread> threads;
    std::mutex mutex;
    std::set<std::filesystem::path> outputs;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            for (int j = 0; j < 4; ++j) {
                const auto result = converter.run(dir / "song.wav", Format::mp3, {}, {});
                std::lock_guard lock(mutex);
                EXPECT_TRUE(outputs.insert(result.output).second) << result.output;
            }
        });
    }
    threads.clear();
    EXPECT_EQ(outputs.size(), 32u);
    EXPECT_TRUE(outputs.contains(dir / "song.mp3"));
    EXPECT_TRUE(outputs.contains(dir / "song 32.mp3"));
}

TEST(Converter, FailuresLeaveNothingBehind) {
    test::ScratchDir dir;
    test::makeClip(dir / "silent.mp4", 0.5, false);
    test::makeTone(dir / "tone.wav", 0.2);
    test::makeMedia(dir / "anim.gif",
                    {"-f", "lavfi", "-i", "testsrc=size=32x32:rate=5:duration=0.4"});
    const auto before = dir.entries();

    // No ffmpeg at all, even for an animated picture to video.
    for (const auto& [file, format] :
         {std::pair{"tone.wav", Format::mp3}, {"anim.gif", Format::webm}}) {
        try {
            Converter(Tools{}).run(dir / file, format, {}, {});
            ADD_FAILURE() << file;
        } catch (const ConvertError& error) {
            EXPECT_EQ(error.errorCase(), ConvertError::Case::missingFFmpeg);
        }
    }

    // A silent video asked for sound is refused, whether the ffmpeg started beside the
    // probe has finished its output already or would run on for long: it is stopped at
    // once, and what it wrote is not kept.
    for (const char* extra : {"", "sleep 30\n"}) {
        Tools tools = Tools::locate();
        tools.ffmpeg = fakeFFmpeg(dir, "", extra);
        const auto started = std::chrono::steady_clock::now();
        try {
            Converter(tools).run(dir / "silent.mp4", Format::mp3, {}, {});
            ADD_FAILURE() << extra;
        } catch (const ConvertError& error) {
            EXPECT_EQ(error.errorCase(), ConvertError::Case::noAudio);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        std::filesystem::remove_all(dir / "bin");
        std::filesystem::remove(dir / "ffmpeg-ran");
    }

    // ffmpeg itself failing.
    test::writeFile(dir / "broken.wav", "not a wave file");
    EXPECT_THROW(Converter(Tools::locate()).run(dir / "broken.wav", Format::mp3, {}, {}),
                 ConvertError);
    std::filesystem::remove(dir / "broken.wav");

    // An output folder we may not write.
    if (::geteuid() != 0) {
        std::filesystem::create_directory(dir / "locked");
        std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::owner_exec);
        Options options;
        options.outputDirectory = dir / "locked";
        EXPECT_THROW(Converter(Tools::locate()).run(dir / "tone.wav", Format::mp3, options, {}),
                     SystemError);
        EXPECT_TRUE(std::filesystem::is_empty(dir / "locked"));
        std::filesystem::remove(dir / "locked");
    }
    EXPECT_EQ(dir.entries(), before);
}

TEST(Converter, ProgressFollowsFFmpegsReport) {
    test::ScratchDir dir;
    test::makeTone(dir / "ten.wav", 10);
    Tools tools = Tools::locate();
    tools.ffmpeg = fakeFFmpeg(dir, "frame=1\\nout_time_us=5000000\\nout_time_us=N/A\\n"
                                   "out_time_us=-1\\nout_time_us=99000000\\nprogress=end\\n");
    std::vector<double> seen;
    Converter(tools).run(dir / "ten.wav", Format::mp3, {}, [&](double f) { seen.push_back(f); });
    EXPECT_THAT(seen, ElementsAre(0.5, 0.0, 0.99, 1.0));

    // ffprobe is not needed for the duration any more.
    tools.ffprobe.reset();
    seen.clear();
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
    EXPECT_FALSE(converter.probe(dir / "silent.mp4").hasAudio);
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
    test::ScratchDir dir;
    test::makeTone(dir / "long.wav", 5);
    Tools tools = Tools::locate();
    tools.ffmpeg = fakeFFmpeg(dir, "out_time_us=1000\\n",
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
    std::filesystem::remove_all(dir / "bin");
    std::filesystem::remove(dir / "ffmpeg-ran");
    EXPECT_THAT(dir.entries(), ElementsAre("long.wav"));
}

TEST(Converter, ResultsKeepTheSourcesModificationTime) {
    test::ScratchDir dir;
    test::makeTone(dir / "song.wav", 0.2);
    test::writeFile(dir / "table.json", R"([{"a": 1}, {"a": 2}])");
    test::writeFile(dir / "pages.pdf", test::samplePdf(test::textPages(2)));
    test::makeMedia(dir / "photo.png", {"-f", "lavfi", "-i", "testsrc=s=32x32", "-frames:v", "1"});
    const auto seconds = [](const std::filesystem::path& path) {
        return test::runProgram({"stat", "-c", "%Y", path.string()}).out;
    };
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
        EXPECT_EQ(seconds(output), "981173106\n");
        if (std::filesystem::is_directory(output)) {
            for (const auto& page : std::filesystem::directory_iterator(output))
                EXPECT_EQ(seconds(page.path()), "981173106\n") << page.path();
        }
    }
    EXPECT_NE(seconds(dir / "out"), "981173106\n");
}

} // namespace
} // namespace lumatra
