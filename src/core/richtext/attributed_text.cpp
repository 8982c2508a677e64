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

// Adjacent runs of one style are one run.
void AttributedText::appendRun(const Run& run) {
    if (run.length == 0) return;
    if (!m_runs.empty() && m_runs.back().style == run.style &&
        m_runs.back().start + m_runs.back().length == run.start) {
        m_runs.back().length += run.length;
        return;
    }
    m_runs.push_back(run);
}

void AttributedText::append(std::string_view text, const CharacterStyle& style) {
    // Invalid bytes never enter: every later reader may rely on valid UTF-8.
    std::string repaired;
    if (!utf8::isValid(text)) {
        utf8::appendRepaired(repaired, text);
        text = repaired;
    }
    m_text.append(text);
    appendRun({m_text.size() - text.size(), text.size(), style});
}

void AttributedText::append(const AttributedText& other) {
    const std::size_t offset = m_text.size();
    m_text.append(other.m_text);
    for (const Run& run : other.m_runs)
        appendRun({offset + run.start, run.length, run.style});
}

} // namespace lumatra
