#include "document/markdown.h"

#include <glib.h>

#include <cstring>
#include <vector>

namespace lumatra::Markdown {
namespace {

// The code point of the UTF-8 sequence at `at` and its length; a byte that starts no
// well-formed sequence counts as one character of its own.
char32_t decodeAt(std::string_view text, std::size_t at, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    length = 1;
    if (lead < 0x80) return lead;
    std::size_t need = 0;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        value = lead & 0x07;
    } else {
        return 0xFFFD;
    }
    if (at + need >= text.size()) return 0xFFFD;
    for (std::size_t i = 1; i <= need; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0xFFFD;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    length = need + 1;
    return value;
}

// Tab and the Unicode space separators.
bool isBlank(char32_t c) {
    return c == '\t' || c == ' ' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

// Byte length of the white-space character (tab, line feed, form feed, carriage
// return, or any Unicode separator) at `at`, or 0 when there is none.
std::size_t whiteSpaceLength(std::string_view text, std::size_t at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    if (lead == '\t' || lead == '\n' || lead == '\f' || lead == '\r' || lead == ' ') return 1;
    if (lead < 0xC2 || lead > 0xE3) return 0;
    std::size_t length = 0;
    const char32_t c = decodeAt(text, at, length);
    const bool separator = (c != '\t' && isBlank(c)) || c == 0x2028 || c == 0x2029;
    return separator && c != 0xFFFD ? length : 0;
}

// Replaces every "MtextM" (M being `width` copies of `mark`, text one or more bytes
// other than `mark`) by `open` text `close`, left to right without overlaps.
std::string replaceDelimited(std::string_view text, char mark, std::size_t width,
                             std::string_view open, std::string_view close) {
    std::string out;
    out.reserve(text.size() + 16);
    std::size_t copied = 0;
    std::size_t i = 0;
    const char* data = text.data();
    while (i < text.size()) {
        const void* found = std::memchr(data + i, mark, text.size() - i);
        if (!found) break;
        i = static_cast<std::size_t>(static_cast<const char*>(found) - data);
        if (width == 2 && (i + 1 >= text.size() || text[i + 1] != mark)) {
            ++i;
            continue;
        }
        const std::size_t start = i + width;
        const void* end =
            start < text.size() ? std::memchr(data + start, mark, text.size() - start) : nullptr;
        // No mark after this one: nothing further can match.
        if (!end) break;
        const auto j = static_cast<std::size_t>(static_cast<const char*>(end) - data);
        if (j == start || (width == 2 && (j + 1 >= text.size() || text[j + 1] != mark))) {
            ++i;
            continue;
        }
        out.append(text.substr(copied, i - copied));
        out.append(open);
        out.append(text.substr(start, j - start));
        out.append(close);
        i = j + width;
        copied = i;
    }
    out.append(text.substr(copied));
    return out;
}

// Replaces every "![alt](address)" (image) or "[text](address)" (link); the alt text
// may be empty, the link text not; the address is one or more characters other than
// ")" and white space.
std::string replaceLinks(std::string_view text, bool image) {
    std::string out;
    out.reserve(text.size() + 16);
    std::size_t copied = 0;
    std::size_t i = 0;
    const char* data = text.data();
    // Many openings may share one "]": its address is looked at once.
    std::size_t close = std::string_view::npos;
    std::size_t addressEnd = 0; // 0: no address after `close`
    bool closeChecked = false;
    const char opening = image ? '!' : '[';
    while (i < text.size()) {
        const void* found = std::memchr(data + i, opening, text.size() - i);
        if (!found) break;
        i = static_cast<std::size_t>(static_cast<const char*>(found) - data);
        if (image && (i + 1 >= text.size() || text[i + 1] != '[')) {
            ++i;
            continue;
        }
        const std::size_t labelStart = i + (image ? 2 : 1);
        if (close == std::string_view::npos || close < labelStart) {
            const void* end = labelStart < text.size()
                                  ? std::memchr(data + labelStart, ']', text.size() - labelStart)
                                  : nullptr;
            if (!end) break;
            close = static_cast<std::size_t>(static_cast<const char*>(end) - data);
            closeChecked = false;
        }
        if (!closeChecked) {
            closeChecked = true;
            addressEnd = 0;
            if (close + 1 < text.size() && text[close + 1] == '(') {
                std::size_t k = close + 2;
                while (k < text.size() && text[k] != ')' && whiteSpaceLength(text, k) == 0)
                    ++k;
                if (k > close + 2 && k < text.size() && text[k] == ')') addressEnd = k;
            }
        }
        if (addressEnd == 0 || (!image && close == labelStart)) {
            ++i;
            continue;
        }
        const auto label = text.substr(labelStart, close - labelStart);
        const auto address = text.substr(close + 2, addressEnd - close - 2);
        out.append(text.substr(copied, i - copied));
        if (image) {
            out.append("<img alt=\"").append(label).append("\" src=\"").append(address);
            out.append("\">");
        } else {
            out.append("<a href=\"").append(address).append("\">").append(label).append("</a>");
        }
        i = addressEnd + 1;
        copied = i;
    }
    out.append(text.substr(copied));
    return out;
}

bool isNumberCharacter(char32_t c) {
    switch (g_unichar_type(static_cast<gunichar>(c))) {
    case G_UNICODE_DECIMAL_NUMBER:
    case G_UNICODE_LETTER_NUMBER:
    case G_UNICODE_OTHER_NUMBER:
        return true;
    default:
        return false;
    }
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The HTML fragments of one document, joined by line feeds.
class Output {
public:
    std::string& line() {
        if (m_any) m_text += '\n';
        m_any = true;
        return m_text;
    }
    std::string& text() { return m_text; }

private:
    std::string m_text;
    bool m_any = false;
};

class Renderer {
public:
    void handle(std::string_view line);
    void finish();
    std::string& body() { return m_out.text(); }

private:
    void flushParagraph();
    void closeList();
    void closeCode();

    Output m_out;
    std::vector<std::string_view> m_paragraph;
    std::vector<std::string_view> m_code;
    bool m_inCode = false;
    std::string m_listTag;
};

void Renderer::flushParagraph() {
    if (m_paragraph.empty()) return;
    std::string joined;
    for (std::size_t i = 0; i < m_paragraph.size(); ++i) {
        if (i) joined += ' ';
        joined.append(m_paragraph[i]);
    }
    m_out.line().append("<p>").append(inlineHtml(joined)).append("</p>");
    m_paragraph.clear();
}

void Renderer::closeList() {
    if (m_listTag.empty()) return;
    m_out.line().append("</").append(m_listTag).append(">");
    m_listTag.clear();
}

void Renderer::closeCode() {
    std::string joined;
    for (std::size_t i = 0; i < m_code.size(); ++i) {
        if (i) joined += '\n';
        joined.append(m_code[i]);
    }
    std::string& out = m_out.line();
    out.append("<pre><code>");
    appendEscaped(out, joined);
    out.append("</code></pre>");
    m_code.clear();
    m_inCode = false;
}

void Renderer::handle(std::string_view line) {
    const std::string_view trim = trimmed(line);
    if (startsWith(trim, "```")) {
        if (m_inCode) {
            closeCode();
        } else {
            flushParagraph();
            closeList();
            m_inCode = true;
        }
        return;
    }
    if (m_inCode) {
        m_code.push_back(line);
        return;
    }
    if (trim.empty()) {
        flushParagraph();
        closeList();
        return;
    }
    if (const auto level = heading(trim)) {
        flushParagraph();
        closeList();
        const auto text = trimmed(trim.substr(static_cast<std::size_t>(*level)));
        const char digit = static_cast<char>('0' + *level);
        std::string& out = m_out.line();
        out.append("<h").append(1, digit).append(">").append(inlineHtml(text));
        out.append("</h").append(1, digit).append(">");
        return;
    }
    if (trim == "---" || trim == "***" || trim == "___") {
        flushParagraph();
        closeList();
        m_out.line().append("<hr>");
        return;
    }
    if (trim.front() == '>') {
        flushParagraph();
        closeList();
        m_out.line()
            .append("<blockquote>")
            .append(inlineHtml(trimmed(trim.substr(1))))
            .append("</blockquote>");
        return;
    }
    if (auto item = listItem(trim)) {
        flushParagraph();
        if (m_listTag != item->tag) {
            closeList();
            m_out.line().append("<").append(item->tag).append(">");
            m_listTag = item->tag;
        }
        m_out.line().append("<li>").append(inlineHtml(item->text)).append("</li>");
        return;
    }
    closeList();
    m_paragraph.push_back(trim);
}

void Renderer::finish() {
    if (m_inCode) closeCode();
    flushParagraph();
    closeList();
}

} // namespace

void appendEscaped(std::string& out, std::string_view text) {
    std::size_t copied = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* entity = nullptr;
        switch (text[i]) {
        case '&':
            entity = "&amp;";
            break;
        case '<':
            entity = "&lt;";
            break;
        case '>':
            entity = "&gt;";
            break;
        case '"':
            entity = "&quot;";
            break;
        default:
            continue;
        }
        out.append(text.substr(copied, i - copied)).append(entity);
        copied = i + 1;
    }
    out.append(text.substr(copied));
}

std::string_view trimmed(std::string_view line) {
    std::size_t begin = 0;
    while (begin < line.size()) {
        std::size_t length = 0;
        if (!isBlank(decodeAt(line, begin, length))) break;
        begin += length;
    }
    std::size_t end = line.size();
    while (end > begin) {
        // Step back to the start of the last character.
        std::size_t start = end - 1;
        while (start > begin && end - start < 4 &&
               (static_cast<unsigned char>(line[start]) & 0xC0) == 0x80)
            --start;
        std::size_t length = 0;
        const char32_t c = decodeAt(line, start, length);
        if (start + length != end || !isBlank(c)) break;
        end = start;
    }
    return line.substr(begin, end - begin);
}

std::optional<int> heading(std::string_view trimmedLine) {
    std::size_t marks = 0;
    while (marks < trimmedLine.size() && trimmedLine[marks] == '#')
        ++marks;
    if (marks < 1 || marks > 6 || marks >= trimmedLine.size() || trimmedLine[marks] != ' ')
        return std::nullopt;
    return static_cast<int>(marks);
}

std::optional<ListItem> listItem(std::string_view trimmedLine) {
    if (startsWith(trimmedLine, "- ") || startsWith(trimmedLine, "* ") ||
        startsWith(trimmedLine, "+ ")) {
        std::string text(trimmedLine.substr(2));
        if (startsWith(text, "[ ] "))
            text.replace(0, 4, "\u2610 ");
        else if (startsWith(text, "[x] ") || startsWith(text, "[X] "))
            text.replace(0, 4, "\u2611 ");
        return ListItem{"ul", std::move(text)};
    }
    std::size_t at = 0;
    while (at < trimmedLine.size()) {
        std::size_t length = 0;
        const char32_t c = decodeAt(trimmedLine, at, length);
        if (c == 0xFFFD || !isNumberCharacter(c)) break;
        at += length;
    }
    if (at == 0 || !startsWith(trimmedLine.substr(at), ". ")) return std::nullopt;
    return ListItem{"ol", std::string(trimmedLine.substr(at + 2))};
}

std::string inlineHtml(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 8);
    appendEscaped(escaped, text);
    std::string result = replaceDelimited(escaped, '`', 1, "<code>", "</code>");
    result = replaceLinks(result, true);
    result = replaceLinks(result, false);
    result = replaceDelimited(result, '*', 2, "<b>", "</b>");
    result = replaceDelimited(result, '_', 2, "<b>", "</b>");
    result = replaceDelimited(result, '*', 1, "<i>", "</i>");
    return replaceDelimited(result, '~', 2, "<s>", "</s>");
}

std::string html(std::string_view markdown, std::string_view title) {
    Renderer renderer;
    std::size_t start = 0;
    for (;;) {
        const std::size_t feed = markdown.find('\n', start);
        std::string_view line = markdown.substr(
            start, feed == std::string_view::npos ? std::string_view::npos : feed - start);
        // A CR LF pair is one line break; a lone CR stays in the line.
        if (feed != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        renderer.handle(line);
        if (feed == std::string_view::npos) break;
        start = feed + 1;
    }
    renderer.finish();

    std::string page = "<!doctype html><html><head><meta charset=\"utf-8\"><title>";
    appendEscaped(page, title);
    page += "</title></head>\n<body style=\"font-family: -apple-system, Helvetica; "
            "font-size: 13pt\">\n";
    page += renderer.body();
    page += "\n</body></html>";
    return page;
}

} // namespace lumatra::Markdown
