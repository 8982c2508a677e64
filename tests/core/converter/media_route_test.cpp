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

TEST_F(MediaRoute, EveryTargetAtEveryQuality) {
    const std::string mp4 = "mov,mp4,m4a,3gp,3g2,mj2", mkv = "matroska,webm";
    // Target, its sound ("pcm_s" for either PCM) and picture codecs, and its container.
    const std::tuple<Format, std::string, std::string, std::string> expects[] = {
        {Format::mp3, "mp3", "", "mp3"},   {Format::m4a, "aac", "", mp4},
        {Format::wav, "pcm_s", "", "wav"}, {Format::flac, "flac", "", "flac"},
        {Format::alac, "alac", "", mp4},   {Format::opus, "opus", "", "ogg"},
        {Format::ogg, "opus", "", "ogg"},  {Format::aiff, "pcm_s", "", "aiff"},
        {Format::mp4, "aac", "h264", mp4}, {Format::hevc, "aac", "hevc", mp4},
        {Format::mov, "aac", "h264", mp4}, {Format::webm, "opus", "vp9", mkv},
        {Format::mkv, "aac", "h264", mkv}, {Format::gif, "", "gif", "gif"},
    };
    // Each target at one quality, in turn, HEVC at all three; what a quality changes is
    // checked below.
    for (std::size_t i = 0; i < std::size(expects); ++i) {
        const auto& [format, audio, video, container] = expects[i];
        std::vector<std::int64_t> sizes;
        for (const Quality quality :
             format == Format::hevc ? std::vector<Quality>(allQualities.begin(), allQualities.end())
                                    : std::vector<Quality>{allQualities[i % 3]}) {
            SCOPED_TRACE(std::string(rawValue(format)) + " " + std::string(rawValue(quality)));
            const auto result = convert("clip.mkv", format, quality);
            sizes.push_back(result.bytes);
            const std::string sound = test::probeField(result.output, "a", "codec_name");
            EXPECT_TRUE(audio.empty() ? sound.empty() : sound.starts_with(audio)) << sound;
            EXPECT_EQ(test::probeField(result.output, "v", "codec_name"), video);
            EXPECT_EQ(test::probeField(result.output, "format", "format_name"), container);
            if (format == Format::hevc) {
                EXPECT_EQ(test::probeField(result.output, "v", "codec_tag_string"), "hvc1");
            }
        }
        if (format == Format::hevc) {
            EXPECT_GT(sizes[0], sizes[1]);
            EXPECT_GT(sizes[1], sizes[2]);
        }
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
