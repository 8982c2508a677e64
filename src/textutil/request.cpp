#include "request.h"

#include "tool_error.h"

#include "formats/convert_error.h"
#include "formats/format.h"

namespace lumatra::textutil {

ToolError systemFailure(const std::string& action, const std::string& path, int errorNumber) {
    return ToolError(action + " «" + path + "»: " + systemReason(errorNumber));
}

namespace {

constexpr const char* usage = "Использование: lumatra-textutil ФАЙЛ -convert "
                              "txt|html|rtf|rtfd|docx|odt|pdf -output ФАЙЛ "
                              "[-inputencoding КОДИРОВКА] [-timelimit СЕКУНДЫ]";

// A positive number of seconds, fractions allowed ("2", "0.5").
std::optional<std::chrono::milliseconds> parseSeconds(const std::string& text) {
    try {
        std::size_t used = 0;
        const double seconds = std::stod(text, &used);
        if (used != text.size() || !(seconds > 0) || seconds > 24 * 3600) return std::nullopt;
        return std::chrono::milliseconds(static_cast<long long>(seconds * 1000 + 0.5));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

std::optional<OutputFormat> formatFromWord(std::string_view word) {
    for (const auto format :
         {OutputFormat::txt, OutputFormat::html, OutputFormat::rtf, OutputFormat::rtfd,
          OutputFormat::docx, OutputFormat::odt, OutputFormat::pdf})
        if (word == formatWord(format)) return format;
    return std::nullopt;
}

const char* formatWord(OutputFormat format) {
    switch (format) {
    case OutputFormat::txt:
        return "txt";
    case OutputFormat::html:
        return "html";
    case OutputFormat::rtf:
        return "rtf";
    case OutputFormat::rtfd:
        return "rtfd";
    case OutputFormat::docx:
        return "docx";
    case OutputFormat::odt:
        return "odt";
    case OutputFormat::pdf:
        return "pdf";
    }
    return "txt";
}

SourceKind sourceKind(const std::filesystem::path& source) {
    const std::string extension = lowercased(pathExtension(source));
    if (extension == "doc" || extension == "docx" || extension == "odt" || extension == "rtf" ||
        extension == "fodt")
        return SourceKind::office;
    if (extension == "html" || extension == "htm") return SourceKind::html;
    if (extension == "webarchive") return SourceKind::webarchive;
    if (extension == "rtfd") return SourceKind::rtfd;
    return SourceKind::text;
}

Request parseArguments(const std::vector<std::string>& arguments) {
    Request request;
    std::optional<std::string> format;
    bool haveSource = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "-convert" && hasValue) {
            format = arguments[++i];
        } else if (argument == "-output" && hasValue) {
            request.output = arguments[++i];
        } else if (argument == "-inputencoding" && hasValue) {
            request.inputEncoding = arguments[++i];
        } else if (argument == "-timelimit" && hasValue) {
            const auto limit = parseSeconds(arguments[++i]);
            if (!limit) throw ToolError(usage);
            request.timeLimit = *limit;
        } else if (!haveSource && !argument.empty() && argument[0] != '-') {
            request.source = argument;
            haveSource = true;
        } else {
            throw ToolError(usage);
        }
    }
    if (!haveSource || !format || request.output.empty()) throw ToolError(usage);
    const auto known = formatFromWord(*format);
    if (!known) throw ToolError("Неизвестный формат: " + *format + ". " + usage);
    request.format = *known;
    return request;
}

} // namespace lumatra::textutil
