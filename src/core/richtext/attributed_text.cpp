#include "richtext/attributed_text.h"

#include "text/utf8.h"

namespace lumatra {
namespace {

// Decodes one scalar value at `at` of text that is known to be valid UTF-8.
char32_t decodeAt(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    char32_t value = extra == 0   ? lead
                     : extra == 1 ? lead & 0x1F
                     : extra == 2 ? lead & 0x0F
                                  : lead & 0x07;
    ++at;
    for (; extra > 0 && at < text.size(); --extra, ++at)
        value = (value << 6) | (static_cast<unsigned char>(text[at]) & 0x3F);
    return value;
}

bool isWhiteSpace(char32_t c) {
    return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

} // namespace

bool isBlankText(std::string_view text) {
    std::string repaired;
    if (!utf8::isValid(text)) {
        utf8::appendRepaired(repaired, text);
        text = repaired;
    }
    for (std::size_t at = 0; at < text.size();)
        if (!isWhiteSpace(decodeAt(text, at))) return false;
    return true;
}

AttributedText::AttributedText() {
    m_paragraphs.push_back({});
}

void AttributedText::appendRun(std::size_t length, const CharacterStyle& style, int image) {
    if (length == 0) return;
    const std::size_t start = m_text.size() - length;
    if (image < 0 && !m_runs.empty() && m_runs.back().image < 0 && m_runs.back().style == style &&
        m_runs.back().start + m_runs.back().length == start) {
        m_runs.back().length += length;
        return;
    }
    m_runs.push_back({start, length, style, image});
}

void AttributedText::append(std::string_view text, const CharacterStyle& style) {
    // Invalid bytes never enter: every later reader may rely on valid UTF-8.
    std::string repaired;
    if (!utf8::isValid(text)) {
        utf8::appendRepaired(repaired, text);
        text = repaired;
    }
    const std::size_t before = m_text.size();
    m_text.append(text);
    appendRun(text.size(), style, -1);
    for (std::size_t at = text.find('\n'); at != std::string_view::npos;
         at = text.find('\n', at + 1))
        m_paragraphs.push_back({before + at + 1, m_paragraphs.back().style});
}

void AttributedText::appendImage(InlineImage image, const CharacterStyle& style) {
    m_images.push_back(std::move(image));
    m_text.append(objectReplacement);
    appendRun(objectReplacement.size(), style, static_cast<int>(m_images.size() - 1));
}

void AttributedText::append(const AttributedText& other) {
    const std::size_t offset = m_text.size();
    const int imageOffset = static_cast<int>(m_images.size());
    m_text.append(other.m_text);
    for (const Run& run : other.m_runs) {
        Run moved{offset + run.start, run.length, run.style,
                  run.image < 0 ? -1 : run.image + imageOffset};
        if (moved.image < 0 && !m_runs.empty() && m_runs.back().image < 0 &&
            m_runs.back().style == moved.style &&
            m_runs.back().start + m_runs.back().length == moved.start) {
            m_runs.back().length += moved.length;
            continue;
        }
        m_runs.push_back(std::move(moved));
    }
    m_images.insert(m_images.end(), other.m_images.begin(), other.m_images.end());
    // The other's first paragraph continues ours and takes its style; the rest follow.
    if (!other.m_text.empty()) m_paragraphs.back().style = other.m_paragraphs.front().style;
    for (std::size_t i = 1; i < other.m_paragraphs.size(); ++i)
        m_paragraphs.push_back({offset + other.m_paragraphs[i].start, other.m_paragraphs[i].style});
}

void AttributedText::setParagraphStyle(const ParagraphStyle& style) {
    m_paragraphs.back().style = style;
}

bool AttributedText::isBlank() const {
    return m_images.empty() && isBlankText(m_text);
}

} // namespace lumatra
