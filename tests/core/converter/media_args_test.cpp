#include "converter/media_args.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace lumatra {
namespace {

using Args = std::vector<std::string>;

bool contains(const Args& args, const std::string& value) {
    return std::find(args.begin(), args.end(), value) != args.end();
}

Args tail(const Args& args, std::size_t count) {
    return {args.end() - count, args.end()};
}

TEST(MediaArgs, QualityValuesPerTarget) {
    struct Case {
        Format format;
        Quality quality;
        Args end;
    };
    const Case cases[] = {
        {Format::mp3, Quality::best, {"-b:a", "320k"}},
        {Format::mp3, Quality::small, {"-b:a", "128k"}},
        {Format::m4a, Quality::best, {"-c:a", "aac", "-b:a", "256k"}},
        {Format::wav, Quality::best, {"-c:a", "pcm_s24le"}},
        {Format::wav, Quality::balanced, {"-c:a", "pcm_s16le"}},
        {Format::wav, Quality::small, {"-c:a", "pcm_s16le"}},
        {Format::aiff, Quality::best, {"-c:a", "pcm_s24be"}},
        {Format::aiff, Quality::small, {"-c:a", "pcm_s16be"}},
        {Format::flac, Quality::best, {"-compression_level", "8"}},
        {Format::flac, Quality::small, {"-compression_level", "8"}},
        {Format::alac, Quality::best, {"-c:a", "alac"}},
        {Format::opus, Quality::best, {"-c:a", "libopus", "-b:a", "192k"}},
        {Format::ogg, Quality::small, {"-c:a", "libopus", "-b:a", "64k"}},
        // mkv: AAC last, no faststart; hevc without sound ends with the pixel format and
        // faststart; webm's sound track has its own rates.
        {Format::mkv, Quality::balanced, {"-c:a", "aac", "-b:a", "192k"}},
        {Format::webm, Quality::best, {"-c:a", "libopus", "-b:a", "160k"}},
    };
    for (const auto& c : cases) {
        const auto args = MediaArgs::make(c.format, c.quality);
        EXPECT_EQ(tail(args, c.end.size()), c.end)
            << rawValue(c.format) << " " << rawValue(c.quality);
    }
    EXPECT_FALSE(contains(MediaArgs::make(Format::mkv, Quality::best), "-movflags"));
    for (Quality quality : allQualities) {
        EXPECT_EQ(MediaArgs::make(Format::opus, quality), MediaArgs::make(Format::ogg, quality));
        EXPECT_FALSE(contains(MediaArgs::make(Format::gif, quality), "0:a:0?"));
    }
}

} // namespace
} // namespace lumatra
