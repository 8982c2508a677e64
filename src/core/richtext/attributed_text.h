#pragma once
// Styled text: UTF-8 characters with runs of character attributes, paragraphs with
// their layout attributes, and inline pictures.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumatra {

struct Color {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const Color&) const = default;
};

/// How a run of characters looks. An empty family means the default face.
struct CharacterStyle {
    std::string fontFamily;
    double fontSize = 12; // points
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikethrough = false;
    std::optional<Color> foreground;
    std::optional<Color> background;
    std::string link; // target of a hyperlink, empty for none
    bool operator==(const CharacterStyle&) const = default;
};

enum class Alignment { left, center, right, justified };

/// How a paragraph is laid out; lengths in points.
struct ParagraphStyle {
    Alignment alignment = Alignment::left;
    double leftIndent = 0;
    double rightIndent = 0;
    double firstLineIndent = 0; // relative to leftIndent, may be negative
    double spaceBefore = 0;
    double spaceAfter = 0;
    bool operator==(const ParagraphStyle&) const = default;
};

/// An inline picture, kept as the encoded bytes it came in.
struct InlineImage {
    enum class Type { png, jpeg };
    Type type = Type::png;
    std::string bytes;
    double width = 0; // points to show it at; 0 means its natural size
    double height = 0;
};

/// Text with attributes. Paragraphs end with '\n'; U+2028 breaks a line inside a
/// paragraph; every picture stands in the text as one U+FFFC.
class AttributedText {
public:
    /// A stretch of the text with one style; `image` indexes images() for a picture.
    struct Run {
        std::size_t start = 0; // byte offsets into text()
        std::size_t length = 0;
        CharacterStyle style;
        int image = -1;
    };
    /// A paragraph: its first byte and its style. The last one runs to the end.
    struct Paragraph {
        std::size_t start = 0;
        ParagraphStyle style;
    };

    static constexpr std::string_view objectReplacement = "\xEF\xBF\xBC"; // U+FFFC
    static constexpr std::string_view lineSeparator = "\xE2\x80\xA8";     // U+2028

    AttributedText();

    /// Appends UTF-8 text in `style`. Every '\n' ends the current paragraph; the next
    /// one starts with the same paragraph style.
    void append(std::string_view text, const CharacterStyle& style = {});
    /// Appends a picture as one U+FFFC in `style`.
    void appendImage(InlineImage image, const CharacterStyle& style = {});
    /// Appends another attributed text, its runs, paragraphs and pictures.
    void append(const AttributedText& other);
    /// Sets the style of the paragraph that the text currently ends in.
    void setParagraphStyle(const ParagraphStyle& style);

    const std::string& text() const { return m_text; }
    const std::vector<Run>& runs() const { return m_runs; }
    const std::vector<Paragraph>& paragraphs() const { return m_paragraphs; }
    const std::vector<InlineImage>& images() const { return m_images; }
    bool empty() const { return m_text.empty(); }

    /// Whether the text holds nothing but white space, line ends and nothing else
    /// (pictures count as content).
    bool isBlank() const;

private:
    void appendRun(std::size_t length, const CharacterStyle& style, int image);

    std::string m_text;
    std::vector<Run> m_runs;
    std::vector<Paragraph> m_paragraphs;
    std::vector<InlineImage> m_images;
};

/// Whether `text` has nothing but Unicode white space and line ends.
bool isBlankText(std::string_view text);

} // namespace lumatra
