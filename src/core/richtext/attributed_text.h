#pragma once
// Styled text: UTF-8 characters with runs of character attributes, in paragraphs.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumatra {

/// How a run of characters looks. An empty family means the default face.
struct CharacterStyle {
    std::string fontFamily;
    double fontSize = 12; // points
    bool bold = false;
    bool italic = false;
    bool operator==(const CharacterStyle&) const = default;
};

/// Text with attributes. Paragraphs end with '\n'.
class AttributedText {
public:
    /// A stretch of the text with one style.
    struct Run {
        std::size_t start = 0; // byte offsets into text()
        std::size_t length = 0;
        CharacterStyle style;
    };

    /// Appends UTF-8 text in `style`; invalid bytes are repaired. Every '\n' ends the
    /// current paragraph.
    void append(std::string_view text, const CharacterStyle& style = {});
    /// Appends another attributed text and its runs.
    void append(const AttributedText& other);

    const std::string& text() const { return m_text; }
    const std::vector<Run>& runs() const { return m_runs; }
    bool empty() const { return m_text.empty(); }

private:
    void appendRun(const Run& run);

    std::string m_text;
    std::vector<Run> m_runs;
};

/// Whether `text` has nothing but Unicode white space and line ends.
bool isBlankText(std::string_view text);

} // namespace lumatra
