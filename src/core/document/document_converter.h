#pragma once
// The document branch of the engine: text documents between txt, rtf, rtfd, doc, docx,
// odt, html, webarchive and Markdown, through the text converter tool, the Markdown
// renderer and (for PDF) the PDF reader and writer.

#include "formats/format.h"
#include "tools/tools.h"

#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace lumatra {

class DocumentConverter {
public:
    /// Receives the fraction of the conversion done, in [0, 1]; any thread.
    using Progress = std::function<void(double fraction)>;

    explicit DocumentConverter(Tools tools) : m_tools(std::move(tools)) {}

    /// Converts the document `source` to `target`, writing `output`, which no other
    /// program opens: a caller may name it through a descriptor of its own
    /// (/proc/<pid>/fd/<n>/…). Returns true only when the output is a folder of page
    /// pictures (PDF sources), false for one file.
    ///
    /// Works in a private scratch folder "lumatra-<UUID>" in the temporary folder that
    /// is gone when the call returns, whatever the outcome. Failures, in this order:
    /// SystemError when the scratch folder cannot be made or the source cannot be
    /// opened; ConvertError::failed when the source is not a regular file (an RTFD
    /// package folder excepted) or a Markdown source is not UTF-8;
    /// ConvertError::unsupported("документ → <title>") for a
    /// target the document routes do not offer; then the text converter's failure
    /// (Shell::run). CancelledError when `stop` is requested.
    bool convert(const std::filesystem::path& source, Format target, Quality quality,
                 const std::filesystem::path& output, const Progress& progress = {},
                 std::stop_token stop = {}) const;

    /// Runs the text converter on `source`, writing `output` in the tool's `format`
    /// ("docx", "rtf", "txt", "html", "odt" or "rtfd"). Fails as Shell::run does, except
    /// that a failure the tool explained is ConvertError::failed with the tool's own line
    /// alone, and one it did not (a crash) reads "Не удалось конвертировать «<source>»:
    /// конвертер документов аварийно завершился".
    void textutil(const std::filesystem::path& source, std::string_view format,
                  const std::filesystem::path& output, std::stop_token stop = {}) const;

    /// The text converter's arguments: SRC -convert FMT -output OUT, plus
    /// -inputencoding UTF-8 for a txt, text, html or htm source that is valid UTF-8.
    static std::vector<std::string> textutilArguments(const std::filesystem::path& source,
                                                      std::string_view format,
                                                      const std::filesystem::path& output);

    const Tools& tools() const { return m_tools; }

private:
    /// PDF sources: text, rich text, web page or page pictures from a PDF file.
    bool fromPDF(const std::filesystem::path& source, Format target, Quality quality,
                 const std::filesystem::path& output, const std::filesystem::path& scratch,
                 const Progress& progress, std::stop_token stop) const;

    /// PDF targets: the text converter lays the working source out on A4 pages through
    /// the office engine's own PDF export, so tables, notes, headers, footers, lists and
    /// pictures keep their form.
    void toPDF(const std::filesystem::path& workingSource, const std::filesystem::path& output,
               const std::filesystem::path& scratch, std::stop_token stop) const;

    /// Runs the text converter into `scratch` and delivers its result to `output`
    /// (deliverFile): the tool never opens the caller's output by name, which may lie
    /// in a folder others can change.
    void textutilInto(const std::filesystem::path& source, std::string_view format,
                      const std::filesystem::path& output, const std::filesystem::path& scratch,
                      std::stop_token stop) const;

    Tools m_tools;
};

} // namespace lumatra
