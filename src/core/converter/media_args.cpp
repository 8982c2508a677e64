#include "converter/media_args.h"

#include <array>
#include <cstddef>

namespace lumatra::MediaArgs {
namespace {

// One text per quality, indexed best, balanced, small.
using PerQuality = std::array<const char*, 3>;

constexpr PerQuality mp3Rate{"320k", "192k", "128k"};
constexpr PerQuality aacRate{"256k", "192k", "128k"};
constexpr PerQuality opusRate{"192k", "128k", "64k"};
constexpr PerQuality webmOpusRate{"160k", "128k", "96k"};
constexpr PerQuality pcmLittle{"pcm_s24le", "pcm_s16le", "pcm_s16le"};
constexpr PerQuality pcmBig{"pcm_s24be", "pcm_s16be", "pcm_s16be"};
constexpr PerQuality x264Preset{"slow", "medium", "medium"};
constexpr PerQuality x264Crf{"18", "23", "28"};
// libx265 has no fixed-quality scale like the hardware encoders' -q:v; its constant
// rate factor stands in. 22/28/32 keep the default (28) for balanced and give output
// sizes that order best > balanced > small on camera footage and on synthetic clips.
constexpr PerQuality x265Crf{"22", "28", "32"};
constexpr PerQuality vp9Crf{"30", "35", "41"};
constexpr PerQuality gifRate{"15", "12", "10"};
constexpr PerQuality gifWidth{"720", "540", "400"};

const char* pick(const PerQuality& values, Quality quality) {
    return values[static_cast<std::size_t>(quality)];
}

// Width and height rounded down to even numbers, as 4:2:0 needs, but never below 2, so
// that a 1 × 1 picture converts too.
constexpr const char* evenSize = "scale='max(2,trunc(iw/2)*2)':'max(2,trunc(ih/2)*2)'";
// libx265 refuses pictures smaller than 16 × 16; they get a border instead.
constexpr const char* hevcSize =
    "scale='max(2,trunc(iw/2)*2)':'max(2,trunc(ih/2)*2)',pad='max(iw,16)':'max(ih,16)'";

std::string gifFilter(Quality quality) {
    return std::string("fps=") + pick(gifRate, quality) + ",scale='min(" + pick(gifWidth, quality) +
           ",iw)':-1:flags=lanczos,split[a][b];" +
           "[a]palettegen=stats_mode=diff[p];[b][p]paletteuse=dither=bayer:bayer_scale=4";
}

void audioCodec(std::vector<std::string>& args, Format format, Quality quality) {
    switch (format) {
    case Format::mp3:
        args.insert(args.end(), {"-c:a", "libmp3lame", "-b:a", pick(mp3Rate, quality)});
        return;
    case Format::m4a:
        args.insert(args.end(), {"-c:a", "aac", "-b:a", pick(aacRate, quality)});
        return;
    case Format::wav:
        args.insert(args.end(), {"-c:a", pick(pcmLittle, quality)});
        return;
    case Format::flac:
        args.insert(args.end(), {"-c:a", "flac", "-compression_level", "8"});
        return;
    case Format::alac:
        args.insert(args.end(), {"-c:a", "alac"});
        return;
    case Format::opus:
    case Format::ogg:
        args.insert(args.end(), {"-c:a", "libopus", "-b:a", pick(opusRate, quality)});
        return;
    case Format::aiff:
        args.insert(args.end(), {"-c:a", pick(pcmBig, quality)});
        return;
    default:
        return;
    }
}

} // namespace

bool holdsCoverStream(Format format) {
    switch (format) {
    case Format::mp3:
    case Format::m4a:
    case Format::alac:
    case Format::flac:
    case Format::aiff:
        return true;
    default:
        return false;
    }
}

std::vector<std::string> coverCodecs(const std::vector<Cover>& covers) {
    std::vector<std::string> args;
    // Output picture streams are numbered among those kept.
    int kept = 0;
    for (const Cover& cover : covers) {
        switch (cover.fit) {
        case CoverFit::asIs:
            break;
        case CoverFit::png:
            args.insert(args.end(), {"-c:v:" + std::to_string(kept), "png"});
            break;
        case CoverFit::none:
            args.insert(args.end(), {"-map", "-0:" + std::to_string(cover.stream)});
            continue;
        }
        ++kept;
    }
    return args;
}

std::vector<std::string> make(Format format, Quality quality) {
    std::vector<std::string> args;
    if (isAudioOnly(format)) {
        if (holdsCoverStream(format)) {
            // The cover: every picture stream the source marks as attached, copied as it
            // is; "0:V" is a real video track, which a song never takes.
            args = {"-map", "0:a:0", "-map",          "0:v?", "-map", "-0:V?",
                    "-sn",  "-dn",   "-map_metadata", "0",    "-c:v", "copy"};
            // AIFF keeps only a title in its own chunks; the ID3 chunk holds the rest.
            if (format == Format::aiff) args.insert(args.end(), {"-write_id3v2", "1"});
        } else {
            args = {"-map", "0:a:0", "-vn", "-sn", "-dn", "-map_metadata", "0"};
        }
        audioCodec(args, format, quality);
        return args;
    }

    args = {"-map", "0:v:0", "-sn", "-dn", "-map_metadata", "0"};
    const bool withAudio = format != Format::gif;
    if (withAudio) args.insert(args.end(), {"-map", "0:a:0?"});

    switch (format) {
    case Format::mp4:
    case Format::mov:
    case Format::mkv:
        args.insert(args.end(),
                    {"-vf", evenSize, "-c:v", "libx264", "-preset", pick(x264Preset, quality),
                     "-crf", pick(x264Crf, quality), "-pix_fmt", "yuv420p"});
        break;
    case Format::hevc:
        args.insert(args.end(),
                    {"-vf", hevcSize, "-c:v", "libx265", "-crf", pick(x265Crf, quality),
                     "-x265-params", "log-level=error", "-tag:v", "hvc1", "-pix_fmt", "yuv420p"});
        break;
    case Format::webm:
        args.insert(args.end(), {"-vf", evenSize, "-c:v", "libvpx-vp9", "-crf",
                                 pick(vp9Crf, quality), "-b:v", "0", "-row-mt", "1", "-deadline",
                                 "good", "-cpu-used", "4", "-pix_fmt", "yuv420p"});
        break;
    case Format::gif:
        args.insert(args.end(), {"-an", "-vf", gifFilter(quality), "-loop", "0"});
        break;
    default:
        break;
    }

    if (withAudio) {
        if (format == Format::webm)
            args.insert(args.end(), {"-c:a", "libopus", "-b:a", pick(webmOpusRate, quality)});
        else
            args.insert(args.end(), {"-c:a", "aac", "-b:a", pick(aacRate, quality)});
    }
    if (format == Format::mp4 || format == Format::mov || format == Format::hevc)
        args.insert(args.end(), {"-movflags", "+faststart"});
    return args;
}

} // namespace lumatra::MediaArgs
