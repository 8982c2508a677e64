// The media route: the probe for the facts, one ffmpeg run for the conversion.

#include "converter/converter.h"
#include "converter/families.h"
#include "converter/media_args.h"
#include "tools/shell.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

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
    // Unlike probe(), a module that cannot be loaded is reported as such.
    const Probe facts = mediaFamily().probe(source, stop);
    if (stop.stop_requested()) throw CancelledError();
    // ffmpeg's own words for these cases are English and name streams and muxers.
    const bool audioOnly = isAudioOnly(format);
    if (audioOnly && (!facts.readable || !facts.hasAudio)) throw ConvertError::noAudio();
    if (!audioOnly && !facts.readable)
        throw ConvertError::failed("Файл повреждён или это не видео");
    if (!audioOnly && !facts.hasVideo) throw ConvertError::failed("В файле нет видеодорожки");

    std::vector<std::string> arguments = {"-hide_banner", "-nostdin", "-y", "-i", source.string()};
    const auto middle = MediaArgs::make(format, quality, facts.hasAudio);
    arguments.insert(arguments.end(), middle.begin(), middle.end());
    arguments.insert(arguments.end(), {"-progress", "pipe:1", "-nostats", output.string()});

    const double duration = facts.duration;
    const auto onLine = [&](std::string_view line) {
        if (duration <= 0 || !progress || !line.starts_with(progressKey)) return;
        const auto microseconds = decimalNumber(line.substr(progressKey.size()));
        if (!microseconds) return;
        double fraction = *microseconds / 1'000'000 / duration;
        if (!(fraction >= 0)) fraction = 0;
        progress(std::min(fraction, 0.99));
    };
    try {
        Shell::run(*m_tools.ffmpeg, arguments, onLine, stop);
    } catch (const ConvertError& error) {
        // ffmpeg names the temporary file it could not finish; the user needs the reason.
        const std::string& text = error.errorDescription();
        if (text.find("No space left on device") != std::string::npos ||
            text.find("Disk quota exceeded") != std::string::npos)
            throw ConvertError::failed(diskFullText);
        throw;
    }
}

} // namespace lumatra
