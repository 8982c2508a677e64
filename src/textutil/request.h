#pragma once
// The text converter's command line: SRC -convert FMT -output OUT [-inputencoding ENC]
// [-timelimit SECONDS].

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumatra::textutil {

/// What the tool writes (pdf: A4 pages with 56-point margins and embedded fonts).
enum class OutputFormat { txt, html, rtf, rtfd, docx, odt, pdf };

/// What a source is, by its extension: a document LibreOffice opens as it is, a web
/// page, a web archive, an RTFD package, or plain text (every other extension).
enum class SourceKind { office, html, webarchive, rtfd, text };

/// A document that takes longer than this is one the engine cannot finish (a page that
/// keeps reloading, a structure it loops over); large real documents take seconds.
inline constexpr std::chrono::milliseconds defaultTimeLimit = std::chrono::minutes(3);

struct Request {
    std::filesystem::path source;
    OutputFormat format = OutputFormat::txt;
    std::filesystem::path output;
    /// The source's text encoding when the caller knows it ("UTF-8", "windows-1251").
    std::optional<std::string> inputEncoding;
    /// How long the conversion may take before it is given up.
    std::chrono::milliseconds timeLimit = defaultTimeLimit;
};

/// Reads the arguments (without the program name). Throws ToolError with the usage
/// line when they do not fit, or naming an unknown format.
Request parseArguments(const std::vector<std::string>& arguments);

/// The kind of a source by its lower-cased extension.
SourceKind sourceKind(const std::filesystem::path& source);

/// The format word ("txt", "rtfd"…).
const char* formatWord(OutputFormat format);

/// The format a word names; nothing for an unknown word.
std::optional<OutputFormat> formatFromWord(std::string_view word);

} // namespace lumatra::textutil
