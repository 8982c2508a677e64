// Real conversions through ffmpeg: every audio and video target at every quality (every
// source extension ffmpeg can write here is bench/media_sources.sh's sweep).

#include "converter/converter.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace lumatra {
namespace {

using ::testing::HasSubstr;

class MediaRoute : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new test::ScratchDir;
        test::makeTone(*s_dir / "tone.wav", 1);
        test::makeClip(*s_dir / "clip.mkv", 1, true);
        test::makeMedia(*s_dir / "noise.wav",
                        {"-f", "lavfi", "-i", "anoisesrc=duration=1:amplitude=0.5"});
    }
    static void TearDownTestSuite() { delete s_dir; }

    static ConvertResult convert(const std::string& source, Format format, Quality quality) {
        Options options;
        options.quality = quality;
        options.outputDirectory = *s_dir / "out";
        return Converter(Tools::locate()).run(*s_dir / source, format, options, {});
    }

    static test::ScratchDir* s_dir;
};
test::ScratchDir* MediaRoute::s_dir = nullptr;

long bitRate(const std::filesystem::path& file) {
    return std::atol(test::probeField(file, "a", "bit_rate").c_str());
}

TEST_F(MediaRoute, AudioTargetsAtEveryQuality) {
    struct Expect {
        Format format;
        const char* codec;
        const char* container;
    };
    const Expect expects[] = {
        {Format::mp3, "mp3", "mp3"},
        {Format::m4a, "aac", "mov,mp4,m4a,3gp,3g2,mj2"},
        {Format::wav, "pcm_s", "wav"},
        {Format::flac, "flac", "flac"},
        {Format::alac, "alac", "mov,mp4,m4a,3gp,3g2,mj2"},
        {Format::opus, "opus", "ogg"},
        {Format::ogg, "opus", "ogg"},
        {Format::aiff, "pcm_s", "aiff"},
    };
    // Each format at one quality, in turn; what a quality changes is checked below.
    for (std::size_t i = 0; i < std::size(expects); ++i) {
        const Expect& expect = expects[i];
        const Quality quality = allQualities[i % allQualities.size()];
        SCOPED_TRACE(std::string(rawValue(expect.format)) + " " + std::string(rawValue(quality)));
        const auto result = convert("clip.mkv", expect.format, quality);
        EXPECT_TRUE(test::probeField(result.output, "a", "codec_name").starts_with(expect.codec));
        EXPECT_EQ(test::probeField(result.output, "format", "format_name"), expect.container);
        EXPECT_EQ(test::probeField(result.output, "v", "codec_name"), "") << "video kept";
    }
    const auto out = [&](Format format, Quality quality) {
        return convert("tone.wav", format, quality).output;
    };
    EXPECT_EQ(bitRate(out(Format::mp3, Quality::balanced)), 192000);
    EXPECT_EQ(bitRate(out(Format::mp3, Quality::best)), 320000);
    EXPECT_EQ(test::probeField(out(Format::wav, Quality::best), "a", "codec_name"), "pcm_s24le");
    EXPECT_EQ(test::probeField(out(Format::wav, Quality::small), "a", "codec_name"), "pcm_s16le");
    EXPECT_EQ(test::probeField(out(Format::aiff, Quality::best), "a", "codec_name"), "pcm_s24be");
    // AAC's rate is a target the native encoder approaches on rich input; the levels
    // must at least order as asked.
    const auto aac = [&](Quality quality) {
        return bitRate(convert("noise.wav", Format::m4a, quality).output);
    };
    EXPECT_GT(aac(Quality::best), aac(Quality::balanced));
    EXPECT_GT(aac(Quality::balanced), aac(Quality::small));
}

TEST_F(MediaRoute, VideoTargetsAtEveryQuality) {
    struct Expect {
        Format format;
        const char* codec;
        const char* audio;
    };
    const Expect expects[] = {
        {Format::mp4, "h264", "aac"},  {Format::hevc, "hevc", "aac"}, {Format::mov, "h264", "aac"},
        {Format::webm, "vp9", "opus"}, {Format::mkv, "h264", "aac"},  {Format::gif, "gif", ""},
    };
    // HEVC at every quality, the others at one each, in turn.
    for (std::size_t i = 0; i < std::size(expects); ++i) {
        const Expect& expect = expects[i];
        std::vector<std::int64_t> sizes;
        const std::vector<Quality> qualities =
            expect.format == Format::hevc
                ? std::vector<Quality>(allQualities.begin(), allQualities.end())
                : std::vector<Quality>{allQualities[i % allQualities.size()]};
        for (Quality quality : qualities) {
            SCOPED_TRACE(std::string(rawValue(expect.format)) + " " +
                         std::string(rawValue(quality)));
            const auto result = convert("clip.mkv", expect.format, quality);
            sizes.push_back(result.bytes);
            EXPECT_EQ(test::probeField(result.output, "v", "codec_name"), expect.codec);
            EXPECT_EQ(test::probeField(result.output, "a", "codec_name"), expect.audio);
            if (expect.format == Format::hevc) {
                EXPECT_EQ(test::probeField(result.output, "v", "codec_tag_string"), "hvc1");
            }
        }
        if (expect.format == Format::hevc) {
            EXPECT_GT(sizes[0], sizes[1]);
            EXPECT_GT(sizes[1], sizes[2]);
        }
    }
    // An animated picture becomes a video.
    test::makeMedia(*s_dir / "anim.gif",
                    {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=5:duration=0.6"});
    for (const auto& [format, codec] : {std::pair{Format::mp4, "h264"}, {Format::webm, "vp9"}})
        EXPECT_EQ(test::probeField(convert("anim.gif", format, Quality::balanced).output, "v",
                                   "codec_name"),
                  codec);
}

// Each stream as ffprobe sees it: its type, and 1 when it is an attached picture.
std::string streamsOf(const std::filesystem::path& file) {
    return test::runProgram({"ffprobe", "-v", "error", "-show_entries",
                             "stream=codec_type:stream_disposition=attached_pic", "-of", "csv=p=0",
                             file.string()})
        .out;
}

TEST_F(MediaRoute, SongsKeepTheirCoverAndTags) {
    const auto song = *s_dir / "song.flac";
    // ffmpeg's arguments, split at spaces.
    std::vector<std::string> args;
    std::istringstream words("-f lavfi -i sine=d=0.5 -f lavfi -i testsrc=s=64x64:d=1 -map 0:a "
                             "-map 1:v -frames:v 1 -c:v mjpeg -disposition:v attached_pic "
                             "-metadata artist=Артист -metadata album=Альбом -metadata date=2021 "
                             "-metadata track=7 -metadata title=Песня");
    for (std::string word; words >> word;)
        args.push_back(word);
    test::makeMedia(song, args);
    // A GIF cover, which MP4 and FLAC refuse to hold, goes in as PNG; JPEG as it is. A
    // TIFF cover that cannot be read stays behind while the song converts.
    for (const std::string codec : {"gif", "tiff"})
        test::makeMedia(*s_dir / (codec + "-cover.mp3"),
                        {"-i", song.string(), "-f", "lavfi", "-i", "testsrc=s=64x64:d=1", "-map",
                         "0:a", "-map", "1:v", "-frames:v", "1", "-c:v", codec, "-disposition:v",
                         "attached_pic", "-map_metadata", "0"});
    std::string damaged = test::readFile(*s_dir / "tiff-cover.mp3");
    damaged.replace(damaged.find(std::string("II*\0", 4)) + 4, 32, 32, '\xEE');
    test::writeFile(*s_dir / "tiff-cover.mp3", damaged);
    using enum Format;
    const std::vector<Format> covered = {mp3, m4a, alac, flac, ogg, opus, aiff};
    // The damaged cover goes to one target of each way a cover is written.
    const std::tuple<const char*, std::vector<Format>, const char*> cases[] = {
        {"song.flac", covered, "mjpeg"},
        {"song.flac", {wav}, ""},
        {"gif-cover.mp3", covered, "png"},
        {"tiff-cover.mp3", {mp3, m4a, ogg}, ""},
    };
    for (const auto& [source, formats, cover] : cases)
        for (const Format format : formats) {
            SCOPED_TRACE(std::string(source) + " → " + std::string(rawValue(format)));
            const auto out = convert(source, format, Quality::small).output;
            EXPECT_EQ(streamsOf(out), *cover ? "audio,0\nvideo,1\n" : "audio,0\n");
            if (*cover) {
                EXPECT_EQ(test::probeField(out, "v", "codec_name"), cover);
            }
            // Tags of the file and of its sound, whatever case the container gives names.
            std::string tags =
                test::runProgram({"ffprobe", "-v", "error", "-show_entries",
                                  "format_tags:stream_tags", "-of", "default=nw=1", out.string()})
                    .out;
            for (char& c : tags)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            for (const char* tag :
                 {"artist=Артист\n", "album=Альбом\n", "title=Песня\n", "track=7"})
                EXPECT_THAT(tags, HasSubstr(std::string("tag:") + tag));
            if (format != wav) {
                EXPECT_THAT(tags, HasSubstr("tag:date=2021"));
            }
        }
    // A film's picture track is no cover.
    for (const Format format : {Format::mp3, Format::ogg})
        EXPECT_EQ(streamsOf(convert("clip.mkv", format, Quality::small).output), "audio,0\n");
}

} // namespace
} // namespace lumatra
