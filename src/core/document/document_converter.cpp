#include "document/document_converter.h"

#include "document/markdown.h"
#include "document/markdown_pictures.h"
#include "document/scratch_folder.h"
#include "formats/convert_error.h"
#include "text/utf8.h"
#include "tools/shell.h"

#include <sys/stat.h>

#include <cerrno>

namespace lumatra {
namespace {

// Markdown and plain-text sources are read whole; past this size they are refused
// rather than exhaust memory.
constexpr std::size_t maxTextBytes = std::size_t{512} << 20;

// The tool's format word for the text-document targets.
std::optional<std::string_view> toolFormat(Format target) {
    switch (target) {
    case Format::docx:
    case Format::rtf:
    case Format::txt:
    case Format::html:
    case Format::odt:
        return rawValue(target);
    default:
        return std::nullopt;
    }
}

// A source the pipeline may read: a regular file, or the folder of an RTFD package.
void checkSource(const std::filesystem::path& source, std::string_view extension) {
    struct stat info {};
    if (::stat(source.c_str(), &info) != 0) throw SystemError("Не удалось открыть", source, errno);
    if (S_ISREG(info.st_mode)) return;
    if (S_ISDIR(info.st_mode) && extension == "rtfd") return;
    if (S_ISDIR(info.st_mode)) throw SystemError("Не удалось открыть", source, EISDIR);
    throw ConvertError::failed("Не удалось открыть «" + source.string() + "»: это не обычный файл");
}

} // namespace

bool DocumentConverter::convert(const std::filesystem::path& source, Format target, Quality quality,
                                const std::filesystem::path& output, const Progress& progress,
                                std::stop_token stop) const {
    const ScratchFolder scratch;
    const std::string extension = lowercased(pathExtension(source));
    if (extension == "pdf")
        return fromPDF(source, target, quality, output, scratch.path(), progress, stop);
    checkSource(source, extension);

    std::filesystem::path working = source;
    if (extension == "md" || extension == "markdown") {
        const std::string text = readRegularFile(source, maxTextBytes);
        if (!utf8::isValid(text))
            throw ConvertError::failed("Не удалось прочитать «" + source.string() +
                                       "»: это не текст в кодировке UTF-8");
        const std::string name = source.filename().string();
        const std::string title = name.substr(0, name.size() - pathExtension(source).size() - 1);
        // A picture left out keeps its local address only in a web page, which its reader
        // resolves beside the page; the office engine would read it itself, from wherever
        // the address leads.
        const std::string page = MarkdownPictures::embed(
            Markdown::html(text, title), source.parent_path(),
            target == Format::html ? MarkdownPictures::Unembedded::localAddressKept
                                   : MarkdownPictures::Unembedded::altText);
        // The renderer's page is the web page itself; a round trip through the office
        // engine would only lose what it holds.
        if (target == Format::html) {
            writeFileAtomically(output, page);
            return false;
        }
        working = scratch / "document.html";
        writeFileAtomically(working, page);
    }

    if (target == Format::pdf) {
        toPDF(working, output, scratch.path(), stop);
        return false;
    }
    const auto format = toolFormat(target);
    if (!format) throw ConvertError::unsupported("документ → " + std::string(title(target)));
    textutilInto(working, *format, output, scratch.path(), stop);
    return false;
}

void DocumentConverter::textutilInto(const std::filesystem::path& source, std::string_view format,
                                     const std::filesystem::path& output,
                                     const std::filesystem::path& scratch,
                                     std::stop_token stop) const {
    const auto result = scratch / ("result." + std::string(format));
    try {
        textutil(source, format, result, stop);
    } catch (const ConvertError& error) {
        if (error.errorCase() != ConvertError::Case::failed) throw;
        // The tool names the output it was given: the user's is meant.
        std::string text = error.errorDescription();
        const std::string internal = result.string();
        for (std::size_t at = 0; (at = text.find(internal, at)) != std::string::npos;
             at += output.string().size())
            text.replace(at, internal.size(), output.string());
        throw ConvertError::failed(text);
    }
    deliverFile(result, output);
}

std::vector<std::string> DocumentConverter::textutilArguments(const std::filesystem::path& source,
                                                              std::string_view format,
                                                              const std::filesystem::path& output) {
    std::vector<std::string> arguments = {source.string(), "-convert", std::string(format),
                                          "-output", output.string()};
    const std::string extension = lowercased(pathExtension(source));
    if (extension == "txt" || extension == "text" || extension == "html" || extension == "htm") {
        try {
            if (utf8::isValid(readRegularFile(source, maxTextBytes))) {
                arguments.push_back("-inputencoding");
                arguments.push_back("UTF-8");
            }
        } catch (const SystemError&) {
            // Unreadable here: the tool finds out for itself and says so.
        }
    }
    return arguments;
}

void DocumentConverter::textutil(const std::filesystem::path& source, std::string_view format,
                                 const std::filesystem::path& output, std::stop_token stop) const {
    try {
        Shell::run(m_tools.textutil, textutilArguments(source, format, output), {}, stop);
    } catch (const ConvertError& error) {
        if (error.errorCase() != ConvertError::Case::failed) throw;
        // The tool says what went wrong in one Russian line of its own: the user gets that
        // line, not the tool's name and status. A tool that died without a word did not
        // get through this document.
        const std::string& text = error.errorDescription();
        const auto lineStart = text.rfind('\n');
        const bool told = text.substr(0, text.find('\n')).ends_with(" завершился с кодом 1");
        if (told && lineStart != std::string::npos && lineStart + 1 < text.size())
            throw ConvertError::failed(text.substr(lineStart + 1));
        throw ConvertError::failed("Не удалось конвертировать «" + source.string() +
                                   "»: конвертер документов аварийно завершился");
    }
}

} // namespace lumatra
