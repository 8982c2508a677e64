#include "converter/converter.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
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

Tools realTools() {
    return Tools::locate();
}

TEST(Converter, RefusesRoutesTheCatalogDoesNotOffer) {
    test::ScratchDir dir;
    test::writeFile(dir / "notes.xyz", "x");
    test::writeFile(dir / "song.mp3", "x");
    const Converter converter(realTools());
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
    const Converter converter(realTools());
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
    test::writeFile(dir / "song.wav", "x");
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

    // A silent video asked for sound is refused before ffmpeg runs.
    Tools tools = realTools();
    tools.ffmpeg = fakeFFmpeg(dir, "");
    std::filesystem::remove(dir / "ffmpeg-ran");
    try {
        Converter(tools).run(dir / "silent.mp4", Format::mp3, {}, {});
        ADD_FAILURE();
    } catch (const ConvertError& error) {
        EXPECT_EQ(error.errorCase(), ConvertError::Case::noAudio);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "ffmpeg-ran"));
    std::filesystem::remove_all(dir / "bin");

    // ffmpeg itself failing.
    test::writeFile(dir / "broken.wav", "not a wave file");
    EXPECT_THROW(Converter(realTools()).run(dir / "broken.wav", Format::mp3, {}, {}), ConvertError);
    std::filesystem::remove(dir / "broken.wav");

    // An output folder we may not write.
    if (::geteuid() != 0) {
        std::filesystem::create_directory(dir / "locked");
        std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::owner_exec);
        Options options;
        options.outputDirectory = dir / "locked";
        EXPECT_THROW(Converter(realTools()).run(dir / "tone.wav", Format::mp3, options, {}),
                     SystemError);
        EXPECT_TRUE(std::filesystem::is_empty(dir / "locked"));
        std::filesystem::remove(dir / "locked");
    }
    EXPECT_EQ(dir.entries(), before);
}

TEST(Converter, ProgressFollowsFFmpegsReport) {
    test::ScratchDir dir;
    test::makeTone(dir / "ten.wav", 10);
    Tools tools = realTools();
    tools.ffmpeg = fakeFFmpeg(dir, "frame=1\\nout_time_us=5000000\\nout_time_us=N/A\\n"
                                   "out_time_us=-1\\nout_time_us=99000000\\nprogress=end\\n");
    std::vector<double> seen;
    Converter(tools).run(dir / "ten.wav", Format::mp3, {}, [&](double f) { seen.push_back(f); });
    EXPECT_THAT(seen, ElementsAre(0.5, 0.0, 0.99, 1.0));

    // Without ffprobe the duration is unknown: only the final 1.0.
    tools.ffprobe.reset();
    seen.clear();
    Converter(tools).run(dir / "ten.wav", Format::mp3, {}, [&](double f) { seen.push_back(f); });
    EXPECT_THAT(seen, ElementsAre(1.0));
}

TEST(Converter, ProbeReadsDurationAndSoundOrFallsBack) {
    test::ScratchDir dir;
    test::makeClip(dir / "silent.mp4", 1, false);
    test::makeClip(dir / "loud.mkv", 1, true);
    test::writeFile(dir / "garbage.mp4", "garbage");
    const Converter converter(realTools());
    const auto silent = converter.probe(dir / "silent.mp4");
    EXPECT_FALSE(silent.hasAudio);
    EXPECT_NEAR(silent.duration, 1.0, 0.1);
    EXPECT_TRUE(converter.probe(dir / "loud.mkv").hasAudio);
    const auto unreadable = converter.probe(dir / "garbage.mp4");
    EXPECT_TRUE(unreadable.hasAudio);
    EXPECT_EQ(unreadable.duration, 0);

    // Answers ffprobe might give, through a stand-in that prints them.
    const auto probeWith = [&](const std::string& json) {
        const auto path = dir / "ffprobe";
        test::writeFile(path, "#!/bin/sh\ncat <<'END'\n" + json + "\nEND\n");
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        Tools tools;
        tools.ffprobe = path;
        return Converter(tools).probe(dir / "silent.mp4");
    };
    auto probe = probeWith(R"({"streams":[{"codec_type":"video"}],"format":{"duration":"12.5"}})");
    EXPECT_EQ(probe.duration, 12.5);
    EXPECT_FALSE(probe.hasAudio);
    probe = probeWith(R"({"streams":[{"codec_type":"audio"}]})");
    EXPECT_EQ(probe.duration, 0);
    EXPECT_TRUE(probe.hasAudio);
    probe = probeWith(R"({"streams":[],"format":{"duration":"N/A"}})");
    EXPECT_EQ(probe.duration, 0);
    EXPECT_FALSE(probe.hasAudio);
    EXPECT_EQ(probeWith(R"({"format":{"duration":7}})").duration, 0); // a number is not ffprobe's
    EXPECT_TRUE(probeWith("not json").hasAudio);
    EXPECT_TRUE(Converter(Tools{}).probe(dir / "silent.mp4").hasAudio);
}

TEST(Converter, CancellationStopsFFmpegAndRemovesTheScratchItem) {
    test::ScratchDir dir;
    test::makeTone(dir / "long.wav", 5);
    Tools tools = realTools();
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

TEST(Converter, SizeOfFilesAndFolders) {
    test::ScratchDir dir;
    EXPECT_EQ(Converter::size(dir / "missing"), 0);
    std::filesystem::create_directories(dir / "pages" / "inner");
    EXPECT_EQ(Converter::size(dir / "pages"), 0);
    test::writeFile(dir / "pages" / "1.png", std::string(10, 'x'));
    test::writeFile(dir / "pages" / "inner" / "2.png", std::string(5, 'x'));
    EXPECT_EQ(Converter::size(dir / "pages"), 15);
    EXPECT_EQ(Converter::size(dir / "pages" / "1.png"), 10);
}

} // namespace
} // namespace lumatra
