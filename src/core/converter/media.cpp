// The media route: ffprobe for the facts, one ffmpeg run for the conversion.

#include "converter/converter.h"
#include "converter/media_args.h"
#include "data/json.h"
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

Converter::Probe readProbe(const std::string& json) {
    Converter::Probe probe;
    Node root;
    try {
        root = JSON::parse(json);
    } catch (const std::exception&) {
        return probe;
    }
    if (!root.isObject()) return probe;

    if (const Node* format = root.find("format"); format && format->isObject()) {
        if (const Node* duration = format->find("duration"); duration && duration->isString())
            probe.duration = decimalNumber(duration->text()).value_or(0);
    }
    if (!std::isfinite(probe.duration) || probe.duration < 0) probe.duration = 0;

    bool hasAudio = false;
    if (const Node* streams = root.find("streams"); streams && streams->isArray()) {
        const auto& items = streams->items();
        const bool allObjects = std::all_of(items.begin(), items.end(),
                                            [](const Node& item) { return item.isObject(); });
        for (const Node& stream : allObjects ? items : Node::Array{}) {
            const Node* type = stream.find("codec_type");
            if (type && type->isString() && type->text() == "audio") hasAudio = true;
        }
    }
    probe.hasAudio = hasAudio;
    return probe;
}

constexpr std::string_view progressKey = "out_time_us=";

} // namespace

Converter::Probe Converter::probe(const std::filesystem::path& source, std::stop_token stop) const {
    if (!m_tools.ffprobe) return {};
    std::string json;
    try {
        json = Shell::run(*m_tools.ffprobe,
                          {"-v", "error", "-show_entries", "format=duration:stream=codec_type",
                           "-of", "json", source.string()},
                          {}, stop);
    } catch (const std::exception&) {
        return {};
    }
    return readProbe(json);
}

void Converter::media(const std::filesystem::path& source, Format format, Quality quality,
                      const std::filesystem::path& output, const ProgressHandler& progress,
                      std::stop_token stop) const {
    if (!m_tools.ffmpeg) throw ConvertError::missingFFmpeg();
    const Probe facts = probe(source, stop);
    if (isAudioOnly(format) && !facts.hasAudio) throw ConvertError::noAudio();

    std::vector<std::string> arguments = {"-hide_banner", "-nostdin", "-y", "-i", source.string()};
    const auto middle = MediaArgs::make(format, quality, facts.hasAudio);
    arguments.insert(arguments.end(), middle.begin(), middle.end());
    arguments.insert(arguments.end(), {"-progress", "pipe:1", "-nostats", output.string()});

    const double duration = facts.duration;
    Shell::run(
        *m_tools.ffmpeg, arguments,
        [&](std::string_view line) {
            if (duration <= 0 || !progress || !line.starts_with(progressKey)) return;
            const auto microseconds = decimalNumber(line.substr(progressKey.size()));
            if (!microseconds) return;
            double fraction = *microseconds / 1'000'000 / duration;
            if (!(fraction >= 0)) fraction = 0;
            progress(std::min(fraction, 0.99));
        },
        stop);
}

} // namespace lumatra
