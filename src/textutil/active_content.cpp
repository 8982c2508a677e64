#include "active_content.h"

#include <array>

namespace lumatra::textutil {
namespace {

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// Where `word` (lower-case) starts in `text` at or after `from`, in any letter case.
std::size_t findNoCase(std::string_view text, std::string_view word, std::size_t from) {
    if (word.empty() || text.size() < word.size()) return std::string_view::npos;
    for (std::size_t i = from; i + word.size() <= text.size(); ++i) {
        if (asciiLower(text[i]) != word[0]) continue;
        std::size_t j = 1;
        while (j < word.size() && asciiLower(text[i + j]) == word[j])
            ++j;
        if (j == word.size()) return i;
    }
    return std::string_view::npos;
}

// The end (one past '>') of the tag starting at `at`, quoted attribute values skipped;
// npos when the page ends first.
std::size_t tagEnd(std::string_view html, std::size_t at) {
    char quote = 0;
    bool afterEquals = false;
    for (std::size_t i = at + 1; i < html.size(); ++i) {
        const char c = html[i];
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '>') return i + 1;
        if (afterEquals && (c == '"' || c == '\'')) quote = c;
        if (c == '=') {
            afterEquals = true;
        } else if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
            afterEquals = false;
        }
    }
    return std::string_view::npos;
}

// `text` with every '<' written as "&lt;": nothing in it can open a tag, whichever way
// a reader splits the page.
void appendInert(std::string& out, std::string_view text) {
    for (const char c : text) {
        if (c == '<')
            out += "&lt;";
        else
            out += c;
    }
}

// A link tag without its empty address: the engine would make the page's own folder of
// it, a path of ours.
std::string withoutEmptyAddress(std::string_view tag) {
    for (std::size_t at = findNoCase(tag, "href", 0); at != std::string_view::npos;
         at = findNoCase(tag, "href", at + 4)) {
        if (at == 0 || (tag[at - 1] != ' ' && tag[at - 1] != '\t' && tag[at - 1] != '\n')) continue;
        std::size_t p = at + 4;
        while (p < tag.size() && (tag[p] == ' ' || tag[p] == '\t'))
            ++p;
        if (p >= tag.size() || tag[p] != '=') continue;
        ++p;
        while (p < tag.size() && (tag[p] == ' ' || tag[p] == '\t'))
            ++p;
        if (p + 1 < tag.size() && (tag[p] == '"' || tag[p] == '\'') && tag[p + 1] == tag[p])
            return std::string(tag.substr(0, at)) + std::string(tag.substr(p + 2));
    }
    return std::string(tag);
}

constexpr std::array<std::string_view, 7> droppedTags = {"frame",  "frameset", "iframe", "object",
                                                         "embed",  "applet",   "base"};

} // namespace

std::string withoutActiveContent(std::string_view html) {
    std::string out;
    out.reserve(html.size());
    std::size_t at = 0;
    while (at < html.size()) {
        const std::size_t open = html.find('<', at);
        if (open == std::string_view::npos) {
            out.append(html.substr(at));
            break;
        }
        out.append(html.substr(at, open - at));
        // Comments and declarations stay, with nothing inside that could open a tag for
        // a reader that ends them elsewhere ("<!-->" is a whole comment to some).
        if (html.substr(open, 4) == "<!--") {
            const std::size_t close = html.find("-->", open + 4);
            const std::size_t end = close == std::string_view::npos ? html.size() : close + 3;
            out.append("<!--");
            appendInert(out, html.substr(open + 4, end - open - 4));
            at = end;
            continue;
        }
        if (open + 1 < html.size() && (html[open + 1] == '!' || html[open + 1] == '?')) {
            const std::size_t end = tagEnd(html, open);
            if (end == std::string_view::npos) {
                appendInert(out, html.substr(open));
                break;
            }
            out += '<';
            appendInert(out, html.substr(open + 1, end - open - 1));
            at = end;
            continue;
        }
        std::size_t nameStart = open + 1;
        const bool closing = nameStart < html.size() && html[nameStart] == '/';
        if (closing) ++nameStart;
        std::size_t nameEnd = nameStart;
        while (nameEnd < html.size() && isNameChar(html[nameEnd]))
            ++nameEnd;
        if (nameEnd == nameStart) { // a lone '<' in the text
            out += "&lt;";
            at = open + 1;
            continue;
        }
        std::string name;
        for (std::size_t i = nameStart; i < nameEnd; ++i)
            name += asciiLower(html[i]);
        const std::size_t end = tagEnd(html, open);
        if (end == std::string_view::npos) {
            // Never closed: the rest of the page is text.
            appendInert(out, html.substr(open));
            break;
        }
        const std::string_view tag = html.substr(open, end - open);
        if (name == "script" && !closing) {
            // Its content is no markup: it ends at the first closing tag.
            const std::size_t close = findNoCase(html, "</script", end);
            const std::size_t after =
                close == std::string_view::npos ? std::string_view::npos : tagEnd(html, close);
            at = after == std::string_view::npos ? html.size() : after;
            continue;
        }
        bool drop = name == "script"; // a stray closing tag
        for (const auto dropped : droppedTags)
            drop = drop || name == dropped;
        if (name == "meta" && findNoCase(tag, "refresh", 0) != std::string_view::npos) drop = true;
        if (!drop)
            out.append(name == "a" && !closing ? withoutEmptyAddress(tag) : std::string(tag));
        at = end;
    }
    return out;
}

} // namespace lumatra::textutil
