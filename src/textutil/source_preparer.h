#pragma once
// Turns the caller's source into the file LibreOffice opens: a private copy in the
// scratch folder, with text decoded to UTF-8, web archives unpacked and RTFD packages
// opened at their TXT.rtf.

#include "request.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumatra::textutil {

/// Sources larger than this are refused.
inline constexpr std::size_t maxSourceBytes = std::size_t{256} << 20;

/// Writes the file LibreOffice is to open into `scratch` and returns its path: plain
/// text as UTF-8 with a byte-order mark ("source.txt"), a web page or web archive as
/// UTF-8 HTML declaring that charset ("source.html"), an RTFD package's TXT.rtf
/// ("source.rtf"), any other document as a copy under its own extension. Throws
/// ToolError when the source is not a regular file (an RTFD folder excepted), is too
/// large, cannot be read, or is a web archive without a main page.
std::filesystem::path prepareSource(const Request& request, const std::filesystem::path& scratch);

/// `bytes` as UTF-8. The encoding is, in this order: `encoding` when given, a
/// byte-order mark, UTF-8 when the bytes are valid UTF-8, `declared` (a web page's own
/// charset), uchardet's guess, Windows-1251. A byte-order mark is dropped. Throws
/// ToolError for an encoding name iconv does not know, or bytes invalid in the given one.
std::string decodeText(std::string_view bytes, const std::optional<std::string>& encoding,
                       const std::optional<std::string>& declared = std::nullopt);

/// The charset a web page declares in a <meta> tag, if any.
std::optional<std::string> declaredCharset(std::string_view html);

/// `html` with every charset its <meta> tags declare changed to utf-8.
std::string declareUtf8(std::string_view html);

/// `html` without the creation and change dates LibreOffice writes as a bare
/// "00:00:00" when a document has none: its own reader refuses pages carrying them.
std::string withoutEmptyDates(std::string_view html);

/// Checks that an office document's bytes fit its extension (a complete ZIP container
/// holding a text document for docx and odt, "{\rtf" for rtf, a compound file or rich
/// text for doc, XML for fodt), since the engine would otherwise read a damaged file as
/// plain text. Throws ToolError naming `source` and what is wrong: empty, not a ZIP
/// archive, cut off, another kind of document.
void checkOfficeSignature(std::string_view bytes, const std::string& extension,
                          const std::filesystem::path& source);

/// The sentence for a document that LibreOffice cannot open at all, naming `source`.
std::string unreadableDocument(const std::filesystem::path& source);

/// What a web archive holds: its main page (as UTF-8) and address, and its other
/// resources (pictures among them), by address.
struct WebArchive {
    std::string page;
    std::string address;
    std::vector<std::pair<std::string, std::string>> pictures;
};

/// Reads a web archive (a property list, binary or XML). Throws ToolError ("в веб-архиве
/// нет главной страницы", lower-case: the caller names the file first).
WebArchive readWebArchive(std::string_view archive);

/// The address `relative` means on the page at `base` ("img/a.png" on
/// "https://x.org/docs/p.html" is "https://x.org/docs/img/a.png").
std::string resolveAddress(std::string_view base, std::string_view relative);

/// The address `relative` means on the page at `base` ("img/a.png" on
/// "https://x.org/docs/p.html" is "https://x.org/docs/img/a.png").
std::string resolveAddress(std::string_view base, std::string_view relative);

} // namespace lumatra::textutil
