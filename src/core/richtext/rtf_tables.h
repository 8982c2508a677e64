#pragma once
// What the RTF reader knows about control words, character sets and code pages.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace lumatra::Rtf {

/// Where the characters of a group go.
enum class Destination {
    text,             // the document's text
    skip,             // nowhere, nested groups included
    container,        // nowhere, but pictures and text destinations inside still count
    fontTable,        // font names
    colorTable,       // colour entries
    picture,          // picture data
    fieldInstruction, // the instruction of a field (a hyperlink's target)
};

/// The destination a control word opens, or none for ordinary control words.
std::optional<Destination> destinationFor(std::string_view word);

/// The UTF-8 character a control word stands for (\emdash, \bullet …), or none.
std::optional<std::string_view> specialCharacter(std::string_view word);

/// The Windows code page of an \fcharset value; 0 for the document's own.
int codePageForCharset(int charset);

/// Decodes 8-bit text of the Windows and Mac code pages into UTF-8, keeping one
/// converter per code page for the life of the object.
class CodePages {
public:
    CodePages();
    ~CodePages();
    CodePages(const CodePages&) = delete;
    CodePages& operator=(const CodePages&) = delete;

    /// Bytes in `codePage` as UTF-8; bytes the code page does not assign, and pages
    /// the system cannot convert from, become U+FFFD (ASCII always passes).
    std::string decode(std::string_view bytes, int codePage);

private:
    struct Converter;
    std::map<int, std::unique_ptr<Converter>> m_converters;
};

} // namespace lumatra::Rtf
