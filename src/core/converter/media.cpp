// The media route: one ffmpeg run for the conversion, and beside its start the probe for
// the facts.

#include "converter/converter.h"
#include "converter/families.h"
#include "converter/media_args.h"
#include "data/plist_bridge.h"
#include "tools/private_folders.h"
#include "tools/read_to_end.h"
#include "tools/shell.h"
#include "tools/unique_fd.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <exception>
#include <fstream>
#include <latch>
#include <memory>
#include <string_view>
#include <thread>

namespace lumatra {
namespace {

// Reads a whole text as a decimal number ("12.345000"); nothing when it is not one.
std::optional<double> decimalNumber(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

constexpr std::string_view progressKey = "out_time_us=";

// ffmpeg's own words for these cases are English and name streams and muxers.
void refuseUnfit(const Converter::Probe& facts, Format format) {
    if (isAudioOnly(format)) {
        if (!facts.readable)
            throw ConvertError::failed("Файл повреждён или это не аудио и не видео");
        if (!facts.hasAudio) throw ConvertError::noAudio();
        return;
    }
    if (!facts.readable) throw ConvertError::failed("Файл повреждён или это не видео");
    if (!facts.hasVideo) throw ConvertError::failed("В файле нет видеодорожки");
}

// Covers larger than this stay behind rather than swell every Ogg page of comments.
constexpr std::size_t coverLimit = 16u << 20;

void putBigEndian(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xff);
}

// A FLAC picture block for the front cover, as Vorbis comments carry it (base64).
std::string pictureBlock(std::string_view picture, std::string_view mime) {
    std::string block;
    putBigEndian(block, 3); // front cover
    putBigEndian(block, static_cast<std::uint32_t>(mime.size()));
    block += mime;
    // No description; size, depth and palette unknown (0), which readers accept.
    for (int field = 0; field < 5; ++field)
        putBigEndian(block, 0);
    putBigEndian(block, static_cast<std::uint32_t>(picture.size()));
    block += picture;
    return block;
}

// Ogg and Opus keep a cover only as a METADATA_BLOCK_PICTURE comment. The source's first
// cover that fits is copied out into `folder` (as PNG when it is neither JPEG nor PNG) and
// handed back as an ffmetadata file that holds it; nothing when there is none.
std::optional<std::filesystem::path> coverComment(const std::filesystem::path& ffmpeg,
                                                  const std::filesystem::path& source,
                                                  const std::vector<MediaArgs::Cover>& covers,
                                                  const std::filesystem::path& folder,
                                                  std::stop_token stop) {
    const auto first = std::find_if(covers.begin(), covers.end(), [](const MediaArgs::Cover& c) {
        return c.fit != MediaArgs::CoverFit::none;
    });
    if (first == covers.end()) return std::nullopt;
    const auto picturePath = folder / "cover";
    try {
        Shell::run(ffmpeg,
                   {"-hide_banner", "-nostdin", "-v", "error", "-y", "-i", source.string(), "-map",
                    "0:" + std::to_string(first->stream), "-frames:v", "1", "-c:v",
                    first->fit == MediaArgs::CoverFit::asIs ? "copy" : "png", "-f", "image2",
                    picturePath.string()},
                   {}, stop);
    } catch (const ConvertError&) {
        return std::nullopt; // one ffmpeg cannot copy out
    }
    std::string picture;
    const UniqueFd fd(::open(picturePath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd || readToEnd(fd.get(), 0, coverLimit, picture, stop) != 0) return std::nullopt;
    std::string_view mime;
    if (picture.starts_with("\xff\xd8\xff"))
        mime = "image/jpeg";
    else if (picture.starts_with("\x89PNG\r\n\x1a\n"))
        mime = "image/png";
    else
        return std::nullopt;
    // ffmetadata escapes '=' (base64's padding) with a backslash.
    std::string encoded = Plist::base64(pictureBlock(picture, mime));
    std::string text = ";FFMETADATA1\nMETADATA_BLOCK_PICTURE=";
    for (char c : encoded) {
        if (c == '=') text += '\\';
        text += c;
    }
    text += '\n';
    const auto metaPath = folder / "cover.ffmeta";
    std::ofstream out(metaPath, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) return std::nullopt;
    return metaPath;
}

bool mentions(std::string_view text, std::initializer_list<std::string_view> phrases) {
    for (const std::string_view phrase : phrases)
        if (text.find(phrase) != std::string_view::npos) return true;
    return false;
}

// ffmpeg's failure told in our words. Its error lines are English, name streams, codecs
// and temporary files, and say little a user can act on; what they tell is one of a few
// reasons, and the exit status is kept for whoever reports a fault.
std::string ffmpegReason(std::string_view text, Format format) {
    if (mentions(text, {"No space left on device", "Disk quota exceeded", "File too large"}))
        return diskFullText;
    if (mentions(text, {"Sample rate", "sample rate", "channel count", "channel layout",
                        "Invalid channel", "Audio packet"}) ||
        (isAudioOnly(format) && mentions(text, {"Output file is empty"})))
        return "В файле нет звука, который можно прочитать";
    if (mentions(text,
                 {"Invalid data found", "Cannot determine format", "moov atom",
                  "could not find codec parameters", "Error while decoding", "Error opening input",
                  "Error while opening decoder", "Decoder (codec", "decoding for stream",
                  "Invalid frame", "corrupt", "truncat", "End of file", "Unknown input format",
                  "Invalid NAL", "missing picture", "non-existing PPS", "Output file is empty"}))
        return "Файл повреждён или записан так, что его не удаётся прочитать";
    if (mentions(text, {"Error while opening encoder", "Error initializing output stream",
                        "Could not write header", "Error muxing", "not supported in container",
                        "Could not find tag for codec"}))
        return "Не удалось закодировать файл в " + std::string(title(format));
    if (mentions(text, {"Permission denied"})) return "Нет доступа к файлу";
    // "ffmpeg завершился с кодом 1" or "ffmpeg аварийно завершился (сигнал 9)": ours.
    const std::string_view first = text.substr(0, text.find('\n'));
    return "Не удалось конвертировать файл — возможно, он повреждён (" + std::string(first) + ")";
}

// The cover's files live in a scratch folder of the run's own in the temporary folder,
// not in the output's private folder (a run killed there would leave more than its one
// result behind); one a killed run leaves is removed by the next. None when it cannot be
// made: the song then has no cover.
std::unique_ptr<RunScratch> coverScratch() {
    try {
        return std::make_unique<RunScratch>("lumatra-cover-");
    } catch (const std::exception&) {
        return nullptr;
    }
}

} // namespace

Converter::Probe Converter::probe(const std::filesystem::path& source, std::stop_token stop) const {
    try {
        return mediaFamily().probe(source, stop);
    } catch (const ConvertError&) {
        Probe unreadable;
        unreadable.readable = false;
        return unreadable;
    }
}

void Converter::media(const std::filesystem::path& source, Format format, Quality quality,
                      const std::filesystem::path& output, const ProgressHandler& progress,
                      std::stop_token stop) const {
    if (!m_tools.ffmpeg) throw ConvertError::missingFFmpeg();
    std::vector<std::string> arguments = {"-hide_banner", "-nostdin", "-y", "-i", source.string()};
    // The covers are read from the header first (milliseconds): what each needs decides
    // the arguments.
    const bool coverAsComment = format == Format::ogg || format == Format::opus;
    std::vector<MediaArgs::Cover> covers;
    if (coverAsComment || MediaArgs::holdsCoverStream(format))
        covers = mediaFamily().covers(source, stop);
    const auto coverFolder = coverAsComment && !covers.empty() ? coverScratch() : nullptr;
    const auto cover =
        coverFolder ? coverComment(*m_tools.ffmpeg, source, covers, coverFolder->path(), stop)
                    : std::nullopt;
    if (stop.stop_requested()) throw CancelledError();
    if (cover) arguments.insert(arguments.end(), {"-f", "ffmetadata", "-i", cover->string()});
    const auto middle = MediaArgs::make(format, quality);
    arguments.insert(arguments.end(), middle.begin(), middle.end());
    if (cover) arguments.insert(arguments.end(), {"-map_metadata:s:a:0", "1:g"});
    arguments.insert(arguments.end(), {"-progress", "pipe:1", "-nostats"});
    // The covers' arguments and the output close the list, so that a second run can leave
    // the covers behind.
    const auto withCovers = [&](const std::vector<MediaArgs::Cover>& kept) {
        std::vector<std::string> all = arguments;
        if (MediaArgs::holdsCoverStream(format)) {
            const auto codecs = MediaArgs::coverCodecs(kept);
            all.insert(all.end(), codecs.begin(), codecs.end());
        }
        all.push_back(output.string());
        return all;
    };

    // The facts about the source are read while ffmpeg starts, which is most of a short
    // conversion. When they refuse the source, ffmpeg is stopped, whatever it wrote is
    // discarded with the private output folder, and the refusal is the failure.
    std::stop_source abort;
    const std::stop_callback forward(stop, [&abort] { abort.request_stop(); });
    double duration = 0;
    std::exception_ptr refusal;
    std::latch probed(1);
    std::jthread prober([&] {
        try {
            const Probe facts = mediaFamily().probe(source, abort.get_token());
            duration = facts.duration;
            refuseUnfit(facts, format);
        } catch (...) {
            refusal = std::current_exception();
            abort.request_stop();
        }
        probed.count_down();
    });

    double shown = 0;
    bool again = false;
    const auto onLine = [&](std::string_view line) {
        if (!progress || !line.starts_with(progressKey)) return;
        // A report that comes before the probe's answer waits for it (milliseconds, and
        // the probe ends at once when the run is stopped).
        probed.wait();
        const double seconds = duration;
        if (seconds <= 0) return;
        const auto microseconds = decimalNumber(line.substr(progressKey.size()));
        if (!microseconds) return;
        double fraction = *microseconds / 1'000'000 / seconds;
        if (!(fraction >= 0)) fraction = 0;
        fraction = std::min(fraction, 0.99);
        // A second run (without the covers) starts again from nothing: the bar holds.
        if (again && fraction < shown) return;
        shown = std::max(shown, fraction);
        progress(fraction);
    };
    std::exception_ptr failure;
    try {
        Shell::run(*m_tools.ffmpeg, withCovers(covers), onLine, abort.get_token());
    } catch (...) {
        failure = std::current_exception();
    }
    // A damaged cover picture fails the whole run; the sound is converted again without
    // the pictures rather than lost.
    if (failure && !abort.get_token().stop_requested() && MediaArgs::holdsCoverStream(format) &&
        !covers.empty()) {
        std::vector<MediaArgs::Cover> none = covers;
        for (MediaArgs::Cover& left : none)
            left.fit = MediaArgs::CoverFit::none;
        failure = nullptr;
        again = true;
        try {
            Shell::run(*m_tools.ffmpeg, withCovers(none), onLine, abort.get_token());
        } catch (...) {
            failure = std::current_exception();
        }
    }
    prober.join();
    if (stop.stop_requested()) throw CancelledError();
    // Our words for the source come before ffmpeg's for what followed from it.
    if (refusal) std::rethrow_exception(refusal);
    if (!failure) return;
    try {
        std::rethrow_exception(failure);
    } catch (const ConvertError& error) {
        throw ConvertError::failed(ffmpegReason(error.errorDescription(), format));
    }
}

} // namespace lumatra
