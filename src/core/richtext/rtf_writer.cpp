#include "richtext/rtf_writer.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

namespace lumatra::RtfWriter {
namespace {

constexpr std::string_view defaultFamily = "Helvetica";

int twips(double points) {
    return static_cast<int>(std::lround(points * 20));
}

class Writer {
public:
    explicit Writer(const AttributedText& text) : m_text(text) {
        m_fonts.emplace_back(defaultFamily);
        for (const auto& run : text.runs()) {
            fontIndex(run.style.fontFamily);
            if (run.style.foreground) colorIndex(*run.style.foreground);
            if (run.style.background) colorIndex(*run.style.background);
        }
    }

    std::string write() {
        std::string body;
        const auto& paragraphs = m_text.paragraphs();
        for (std::size_t p = 0; p < paragraphs.size(); ++p) {
            const std::size_t start = paragraphs[p].start;
            const std::size_t end =
                p + 1 < paragraphs.size() ? paragraphs[p + 1].start : m_text.text().size();
            paragraph(body, paragraphs[p].style, start, end);
        }

        std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl";
        for (std::size_t i = 0; i < m_fonts.size(); ++i) {
            out += "{\\f" + std::to_string(i) + "\\fnil\\fcharset0 ";
            appendEscaped(out, m_fonts[i], true);
            out += ";}";
        }
        out += "}\n{\\colortbl;";
        for (const Color& color : m_colors)
            out += "\\red" + std::to_string(color.red) + "\\green" + std::to_string(color.green) +
                   "\\blue" + std::to_string(color.blue) + ";";
        out += "}\n";
        out += body;
        out += "}\n";
        return out;
    }

private:
    int fontIndex(const std::string& family) {
        const std::string_view name = family.empty() ? defaultFamily : std::string_view(family);
        const auto found = std::find(m_fonts.begin(), m_fonts.end(), name);
        if (found != m_fonts.end()) return static_cast<int>(found - m_fonts.begin());
        m_fonts.emplace_back(name);
        return static_cast<int>(m_fonts.size() - 1);
    }

    int colorIndex(const Color& color) {
        const auto found = std::find(m_colors.begin(), m_colors.end(), color);
        if (found != m_colors.end()) return static_cast<int>(found - m_colors.begin()) + 1;
        m_colors.push_back(color);
        return static_cast<int>(m_colors.size());
    }

    void paragraph(std::string& out, const ParagraphStyle& style, std::size_t start,
                   std::size_t end) {
        out += "\\pard";
        switch (style.alignment) {
        case Alignment::left:
            out += "\\ql";
            break;
        case Alignment::center:
            out += "\\qc";
            break;
        case Alignment::right:
            out += "\\qr";
            break;
        case Alignment::justified:
            out += "\\qj";
            break;
        }
        const auto number = [&out](std::string_view word, double points) {
            if (points == 0) return;
            out += "\\";
            out += word;
            out += std::to_string(twips(points));
        };
        number("li", style.leftIndent);
        number("ri", style.rightIndent);
        number("fi", style.firstLineIndent);
        number("sb", style.spaceBefore);
        number("sa", style.spaceAfter);
        out += ' ';

        for (const auto& run : m_text.runs()) {
            const std::size_t from = std::max(run.start, start);
            const std::size_t to = std::min(run.start + run.length, end);
            if (from >= to) continue;
            runText(out, run, from, to);
        }
        out += "\n";
    }

    void runText(std::string& out, const AttributedText::Run& run, std::size_t from,
                 std::size_t to) {
        const CharacterStyle& style = run.style;
        const bool link = !style.link.empty();
        if (link) {
            out += "{\\field{\\*\\fldinst HYPERLINK \"";
            // The target is quoted; a quote inside it is written as its URL escape.
            std::string target;
            for (const char c : style.link)
                if (c == '"')
                    target += "%22";
                else
                    target += c;
            appendEscaped(out, target, false);
            out += "\"}{\\fldrslt ";
        }
        out += "{\\f" + std::to_string(fontIndex(style.fontFamily));
        out += "\\fs" + std::to_string(std::max(1L, std::lround(style.fontSize * 2)));
        if (style.bold) out += "\\b";
        if (style.italic) out += "\\i";
        if (style.underline) out += "\\ul";
        if (style.strikethrough) out += "\\strike";
        if (style.foreground) out += "\\cf" + std::to_string(colorIndex(*style.foreground));
        if (style.background) {
            const std::string index = std::to_string(colorIndex(*style.background));
            out += "\\cb" + index + "\\chcbpat" + index;
        }
        out += ' ';
        if (run.image >= 0) {
            picture(out, m_text.images()[static_cast<std::size_t>(run.image)]);
        } else {
            std::string_view piece(m_text.text());
            piece = piece.substr(from, to - from);
            // The paragraph's own line end becomes \par.
            const bool endsParagraph = !piece.empty() && piece.back() == '\n';
            if (endsParagraph) piece.remove_suffix(1);
            appendEscaped(out, piece, false);
            if (endsParagraph) out += "\\par";
        }
        out += "}";
        if (link) out += "}}";
    }

    static void picture(std::string& out, const InlineImage& image) {
        out += "{\\pict";
        switch (image.type) {
        case InlineImage::Type::png:
            out += "\\pngblip";
            break;
        case InlineImage::Type::jpeg:
            out += "\\jpegblip";
            break;
        }
        if (image.width > 0 && image.height > 0)
            out += "\\picwgoal" + std::to_string(twips(image.width)) + "\\pichgoal" +
                   std::to_string(twips(image.height));
        out += "\n";
        static constexpr char hex[] = "0123456789abcdef";
        for (std::size_t i = 0; i < image.bytes.size(); ++i) {
            const auto byte = static_cast<unsigned char>(image.bytes[i]);
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
            if (i % 64 == 63) out += '\n';
        }
        out += "}";
    }

    // Text of valid UTF-8 as RTF: specials escaped, the rest as \uN with "?" for readers
    // that do not know Unicode.
    static void appendEscaped(std::string& out, std::string_view text, bool fontName) {
        for (std::size_t at = 0; at < text.size();) {
            const auto lead = static_cast<unsigned char>(text[at]);
            if (lead < 0x80) {
                ++at;
                switch (lead) {
                case '\\':
                    out += "\\\\";
                    break;
                case '{':
                    out += "\\{";
                    break;
                case '}':
                    out += "\\}";
                    break;
                case '\t':
                    out += "\\tab ";
                    break;
                case '\n':
                    out += "\\line ";
                    break;
                case '\r':
                    break;
                case ';':
                    if (fontName) break;
                    out += ';';
                    break;
                default:
                    if (lead >= 0x20) out += static_cast<char>(lead);
                }
                continue;
            }
            const int extra = lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
            char32_t code = extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
            ++at;
            for (int i = 0; i < extra && at < text.size(); ++i, ++at)
                code = (code << 6) | (static_cast<unsigned char>(text[at]) & 0x3F);
            if (code == 0x2028) {
                out += "\\line ";
                continue;
            }
            if (code == 0xA0) {
                out += "\\~";
                continue;
            }
            const auto unit = [&out](unsigned value) {
                // RTF numbers are signed 16-bit.
                out += "\\u" + std::to_string(value > 32767 ? static_cast<int>(value) - 65536
                                                            : static_cast<int>(value));
                out += '?';
            };
            if (code > 0xFFFF) {
                const char32_t offset = code - 0x10000;
                unit(0xD800 + static_cast<unsigned>(offset >> 10));
                unit(0xDC00 + static_cast<unsigned>(offset & 0x3FF));
            } else {
                unit(static_cast<unsigned>(code));
            }
        }
    }

    const AttributedText& m_text;
    std::vector<std::string> m_fonts;
    std::vector<Color> m_colors;
};

} // namespace

std::string write(const AttributedText& text) {
    return Writer(text).write();
}

} // namespace lumatra::RtfWriter
