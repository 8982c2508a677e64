#pragma once
// The catalog: the kinds of files the engine recognises, the formats it writes
// and the three quality levels, with the rules that pick a file's kind and
// targets from its name alone.

#include <array>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumatra {

/// What a source file is. Declaration order is the order of every listing.
enum class Kind { audio, video, image, document, data };

/// A format the engine can write. Declaration order is the menu order.
enum class Format {
    mp3,
    m4a,
    wav,
    flac,
    alac,
    opus,
    ogg,
    aiff,
    mp4,
    hevc,
    mov,
    webm,
    mkv,
    gif,
    jpg,
    png,
    heic,
    avif,
    tiff,
    bmp,
    ico,
    icns,
    pdf,
    docx,
    rtf,
    txt,
    html,
    odt,
    json,
    csv,
    plist,
};

/// Fidelity against size; `balanced` is the default everywhere.
enum class Quality { best, balanced, small };

inline constexpr std::array allKinds{Kind::audio, Kind::video, Kind::image, Kind::document,
                                     Kind::data};
inline constexpr std::array allFormats{
    Format::mp3,  Format::m4a, Format::wav,  Format::flac, Format::alac, Format::opus, Format::ogg,
    Format::aiff, Format::mp4, Format::hevc, Format::mov,  Format::webm, Format::mkv,  Format::gif,
    Format::jpg,  Format::png, Format::heic, Format::avif, Format::tiff, Format::bmp,  Format::ico,
    Format::icns, Format::pdf, Format::docx, Format::rtf,  Format::txt,  Format::html, Format::odt,
    Format::json, Format::csv, Format::plist};
inline constexpr std::array allQualities{Quality::best, Quality::balanced, Quality::small};

inline constexpr std::array audioTargets{Format::mp3,  Format::m4a,  Format::wav, Format::flac,
                                         Format::alac, Format::opus, Format::ogg, Format::aiff};
inline constexpr std::array videoTargets{Format::mp4,  Format::hevc, Format::mov,
                                         Format::webm, Format::mkv,  Format::gif};
inline constexpr std::array imageTargets{Format::jpg,  Format::png, Format::heic, Format::avif,
                                         Format::tiff, Format::gif, Format::bmp,  Format::ico,
                                         Format::icns, Format::pdf};

std::string_view rawValue(Kind kind);
std::string_view title(Kind kind);
/// Name of the symbol the window shows for the kind.
std::string_view symbol(Kind kind);
/// Exact, case-sensitive match of a raw value.
std::optional<Kind> kindFromRaw(std::string_view raw);

/// The raw value, which is also the format's id and the word `--to` accepts.
std::string_view rawValue(Format format);
/// File-name extension written for the format (hevc → mp4, alac → m4a).
std::string_view ext(Format format);
std::string_view title(Format format);
std::string_view detail(Format format);
bool isAudioOnly(Format format);
std::optional<Format> formatFromRaw(std::string_view raw);

std::string_view rawValue(Quality quality);
std::string_view title(Quality quality);
std::optional<Quality> qualityFromRaw(std::string_view raw);

/// The lower-case extensions tabled for a kind. The sets of the kinds are disjoint.
std::span<const std::string_view> kindExtensions(Kind kind);

/// Text after the last dot of the file name, as written; empty when there is none.
std::string pathExtension(const std::filesystem::path& path);
/// ASCII lower case; extensions are compared this way.
std::string lowercased(std::string_view text);

/// The kind of a file, judged from its name only (the file is never opened). Extensions
/// outside the tables are asked of the system's type registry: movie, audio, image or
/// plain text, or nothing.
std::optional<Kind> kindOf(const std::filesystem::path& path);

/// Whether `extension` (lower case) already denotes `format`.
bool isSameFormat(Format format, std::string_view extension);

/// Ordered formats the file may become; empty when it has no kind.
std::vector<Format> targetsFor(const std::filesystem::path& path);

/// The first target that is not the file's own format (or the first target when all
/// are); nothing when there are no targets.
std::optional<Format> defaultTargetFor(const std::filesystem::path& path);

} // namespace lumatra
