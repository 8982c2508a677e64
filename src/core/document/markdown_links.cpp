#include "document/markdown_links.h"

#include "document/markdown_text.h"

namespace lumatra::Markdown {

std::size_t scanLinkLabel(std::string_view text) {
    if (text.empty() || text[0] != '[') return 0;
    bool blank = true;
    for (std::size_t at = 1; at < text.size() && at <= 1000; ++at) {
        const char c = text[at];
        if (c == '\\' && at + 1 < text.size() && isAsciiPunctuation(text[at + 1])) {
            blank = false;
            ++at;
            continue;
        }
        if (c == '[') return 0;
        if (c == ']') return blank ? 0 : at + 1;
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') blank = false;
    }
    return 0;
}

std::size_t scanLinkAddress(std::string_view text, std::string_view& raw) {
    if (!text.empty() && text[0] == '<') {
        for (std::size_t at = 1; at < text.size(); ++at) {
            const char c = text[at];
            if (c == '\\' && at + 1 < text.size() && isAsciiPunctuation(text[at + 1])) {
                ++at;
                continue;
            }
            if (c == '\n' || c == '\r' || c == '<') return 0;
            if (c == '>') {
                raw = text.substr(1, at - 1);
                return at + 1;
            }
        }
        return 0;
    }
    // Deeper parentheses than this end the address, so that a run of "(" cannot make
    // every later link try the whole rest of the text again.
    constexpr int maxParentheses = 32;
    int depth = 0;
    std::size_t at = 0;
    for (; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c == '\\' && at + 1 < text.size() && isAsciiPunctuation(text[at + 1])) {
            ++at;
            continue;
        }
        if (c <= ' ' || c == 0x7F) break;
        if (c == '(') {
            if (++depth > maxParentheses) return 0;
        } else if (c == ')') {
            if (depth == 0) break;
            --depth;
        }
    }
    if (at == 0 || depth != 0) return 0;
    raw = text.substr(0, at);
    return at;
}

std::size_t scanLinkTitle(std::string_view text, std::string_view& raw) {
    if (text.empty()) return 0;
    const char open = text[0];
    char close = 0;
    if (open == '"' || open == '\'')
        close = open;
    else if (open == '(')
        close = ')';
    else
        return 0;
    for (std::size_t at = 1; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '\\' && at + 1 < text.size() && isAsciiPunctuation(text[at + 1])) {
            ++at;
            continue;
        }
        if (c == close) {
            raw = text.substr(1, at - 1);
            return at + 1;
        }
        if (open == '(' && c == '(') return 0;
        // A blank line ends the paragraph, and with it any title.
        if (c == '\n') {
            std::size_t next = at + 1;
            while (next < text.size() && isSpaceOrTab(text[next]))
                ++next;
            if (next >= text.size() || text[next] == '\n') return 0;
        }
    }
    return 0;
}

std::size_t skipSpacesAndOneLine(std::string_view text, std::size_t at) {
    const std::size_t from = at;
    bool line = false;
    while (at < text.size()) {
        if (isSpaceOrTab(text[at])) {
            ++at;
        } else if (text[at] == '\n' && !line) {
            line = true;
            ++at;
        } else {
            break;
        }
    }
    return at - from;
}

namespace {

// The position after the spaces and tabs at `at` if a line end or the end of `text`
// follows them (past the line feed), otherwise 0.
std::size_t lineEndAfterSpaces(std::string_view text, std::size_t at) {
    while (at < text.size() && isSpaceOrTab(text[at]))
        ++at;
    if (at == text.size()) return at;
    return text[at] == '\n' ? at + 1 : 0;
}

} // namespace

std::size_t parseReferenceDefinition(std::string_view text, References& references) {
    const std::size_t labelLength = scanLinkLabel(text);
    if (labelLength == 0 || labelLength >= text.size() || text[labelLength] != ':') return 0;
    std::size_t at = labelLength + 1;
    at += skipSpacesAndOneLine(text, at);
    std::string_view rawAddress;
    const std::size_t addressLength = scanLinkAddress(text.substr(at), rawAddress);
    if (addressLength == 0) return 0;
    at += addressLength;
    const std::size_t afterAddress = at;

    std::string_view rawTitle;
    bool hasTitle = false;
    std::size_t end = 0;
    const std::size_t gap = skipSpacesAndOneLine(text, at);
    if (gap > 0 || at == text.size()) {
        const std::size_t titleLength = scanLinkTitle(text.substr(at + gap), rawTitle);
        if (titleLength > 0) {
            end = lineEndAfterSpaces(text, at + gap + titleLength);
            hasTitle = end != 0;
        }
    }
    if (!hasTitle) {
        end = lineEndAfterSpaces(text, afterAddress);
        if (end == 0) return 0;
    }
    std::string label = normalizedLabel(text.substr(1, labelLength - 2));
    if (label.empty()) return 0;
    if (references.find(label) == references.end()) {
        LinkTarget target;
        appendUnescaped(target.address, rawAddress);
        if (hasTitle) appendUnescaped(target.title, rawTitle);
        references.emplace(std::move(label), std::move(target));
    }
    return end;
}

} // namespace lumatra::Markdown
