#include "richtext/rtf_writer.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

namespace lumatra::RtfWriter {
namespace {

constexpr std::string_view defaultFamily = "Helvetica";

class Writer {
public:
    explicit Writer(const AttributedText& text) : m_text(text) {
        m_fonts.emplace_back(defaultFamily);
        for (const auto& run : text.runs())
            fontIndex(run.style.fontFamily);
    }

    std::string write() {
        // Every paragraph ends after its '\n'; the last one runs to the end, empty or not.
        std::string body;
        const std::string& text = m_text.text();
        std::size_t start = 0;
        for (std::size_t end = text.find('\n'); end != std::string::npos;
             start = end + 1, end = text.find('\n', start))
            paragraph(body, start, end + 1);
        paragraph(body, start, text.size());

        std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl";
        for (std::size_t i = 0; i < m_fonts.size(); ++i) {
            out += "{\\f" + std::to_string(i) + "\\fnil\\fcharset0 ";
            appendEscaped(out, m_fonts[i], true);
            out += ";}";
        }
        out += "}\n{\\colortbl;}\n";
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

    void paragraph(std::string& out, std::size_t start, std::size_t end) {
        out += "\\pard\\ql ";
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
        out += "{\\f" + std::to_string(fontIndex(style.fontFamily));
        out += "\\fs" + std::to_string(std::max(1L, std::lround(style.fontSize * 2)));
        if (style.bold) out += "\\b";
        if (style.italic) out += "\\i";
        out += ' ';
        std::string_view piece(m_text.text());
        piece = piece.substr(from, to - from);
        // The paragraph's own line end becomes \par.
        const bool endsParagraph = !piece.empty() && piece.back() == '\n';
        if (endsParagraph) piece.remove_suffix(1);
        appendEscaped(out, piece, false);
        if (endsParagraph) out += "\\par";
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
};

} // namespace

std::string write(const AttributedText& text) {
    return Writer(text).write();
}

} // namespace lumatra::RtfWriter
