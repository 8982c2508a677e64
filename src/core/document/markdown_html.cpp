#include "document/markdown_html.h"

#include "document/markdown.h"
#include "document/markdown_text.h"

#include <array>
#include <vector>

namespace lumatra::Markdown {
namespace {

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (lower(text[i]) != prefix[i]) return false;
    return true;
}

bool containsNoCase(std::string_view text, std::string_view word) {
    for (std::size_t at = 0; at + word.size() <= text.size(); ++at)
        if (startsWithNoCase(text.substr(at), word)) return true;
    return false;
}

// White space inside a tag: spaces, tabs and at most one line ending.
std::size_t skipTagSpace(std::string_view text, std::size_t at, bool& sawLineEnd) {
    while (at < text.size()) {
        const char c = text[at];
        if (c == '\n' || c == '\r') {
            if (sawLineEnd) break;
            sawLineEnd = true;
            at += c == '\r' && at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
        } else if (c == ' ' || c == '\t' || c == '\f' || c == '\v') {
            ++at;
        } else {
            break;
        }
    }
    return at;
}

struct Attribute {
    std::string name; // lower case
    std::string_view value;
    bool hasValue = false;
};

struct Tag {
    std::string name; // lower case
    bool closing = false;
    std::vector<Attribute> attributes;
    std::size_t length = 0; // 0: not a tag
};

// An open or closing tag at the start of `text`, as CommonMark defines them.
Tag parseTag(std::string_view text, HtmlScan& scan) {
    Tag tag;
    std::size_t at = 1;
    if (at < text.size() && text[at] == '/') {
        tag.closing = true;
        ++at;
    }
    if (at >= text.size() || !isLetter(text[at])) return tag;
    while (at < text.size() && (isLetter(text[at]) || isDigit(text[at]) || text[at] == '-'))
        tag.name += lower(text[at++]);
    if (tag.closing) {
        bool lineEnd = false;
        at = skipTagSpace(text, at, lineEnd);
        if (at < text.size() && text[at] == '>') tag.length = at + 1;
        return tag;
    }
    for (;;) {
        bool lineEnd = false;
        const std::size_t spaced = skipTagSpace(text, at, lineEnd);
        if (spaced < text.size() && text[spaced] == '>') {
            tag.length = spaced + 1;
            return tag;
        }
        if (spaced + 1 < text.size() && text[spaced] == '/' && text[spaced + 1] == '>') {
            tag.length = spaced + 2;
            return tag;
        }
        // An attribute needs white space before it.
        if (spaced == at || spaced >= text.size()) return tag;
        at = spaced;
        const char first = text[at];
        if (!isLetter(first) && first != '_' && first != ':') return tag;
        Attribute attribute;
        while (at < text.size() && (isLetter(text[at]) || isDigit(text[at]) || text[at] == '_' ||
                                    text[at] == '.' || text[at] == ':' || text[at] == '-'))
            attribute.name += lower(text[at++]);
        bool valueLineEnd = lineEnd;
        const std::size_t beforeEquals = skipTagSpace(text, at, valueLineEnd);
        if (beforeEquals < text.size() && text[beforeEquals] == '=') {
            std::size_t value = skipTagSpace(text, beforeEquals + 1, valueLineEnd);
            if (value >= text.size()) return tag;
            const char quote = text[value];
            if (quote == '"' || quote == '\'') {
                bool& missing = quote == '"' ? scan.noDoubleQuote : scan.noSingleQuote;
                const std::size_t close =
                    missing ? std::string_view::npos : text.find(quote, value + 1);
                if (close == std::string_view::npos) {
                    missing = true;
                    return tag;
                }
                attribute.value = text.substr(value + 1, close - value - 1);
                at = close + 1;
            } else {
                std::size_t end = value;
                while (end < text.size() &&
                       std::string_view(" \t\n\r\f\v\"'=<>`").find(text[end]) ==
                           std::string_view::npos)
                    ++end;
                if (end == value) return tag;
                attribute.value = text.substr(value, end - value);
                at = end;
            }
            attribute.hasValue = true;
        }
        tag.attributes.push_back(std::move(attribute));
    }
}

// Tags kept, and the attributes each may keep beside the common ones.
struct Allowed {
    std::string_view tag;
    std::array<std::string_view, 5> attributes;
};
constexpr Allowed allowedTags[] = {
    {"a", {"href", "name"}},
    {"abbr", {}},
    {"b", {}},
    {"bdi", {}},
    {"bdo", {}},
    {"blockquote", {}},
    {"br", {}},
    {"caption", {}},
    {"center", {}},
    {"cite", {}},
    {"code", {}},
    {"dd", {}},
    {"del", {}},
    {"details", {"open"}},
    {"dfn", {}},
    {"div", {}},
    {"dl", {}},
    {"dt", {}},
    {"em", {}},
    {"figcaption", {}},
    {"figure", {}},
    {"h1", {}},
    {"h2", {}},
    {"h3", {}},
    {"h4", {}},
    {"h5", {}},
    {"h6", {}},
    {"hr", {}},
    {"i", {}},
    {"img", {"src", "alt", "border", "hspace", "vspace"}},
    {"ins", {}},
    {"kbd", {}},
    {"li", {"value"}},
    {"mark", {}},
    {"ol", {"start", "type"}},
    {"p", {}},
    {"pre", {}},
    {"q", {}},
    {"rp", {}},
    {"rt", {}},
    {"ruby", {}},
    {"s", {}},
    {"samp", {}},
    {"small", {}},
    {"span", {}},
    {"strike", {}},
    {"strong", {}},
    {"sub", {}},
    {"summary", {}},
    {"sup", {}},
    {"table", {"border", "cellpadding", "cellspacing", "width"}},
    {"tbody", {}},
    {"td", {"colspan", "rowspan", "valign", "width"}},
    {"th", {"colspan", "rowspan", "valign", "width"}},
    {"thead", {}},
    {"time", {"datetime"}},
    {"tr", {"valign"}},
    {"tfoot", {}},
    {"tt", {}},
    {"u", {}},
    {"ul", {}},
    {"var", {}},
    {"wbr", {}},
};
// Beside these, every "aria-" attribute: none of them does anything but describe.
constexpr std::string_view commonAttributes[] = {"align", "id",    "class",  "title", "lang",
                                                 "dir",   "width", "height", "role"};
// Tags whose content is no text to show either.
constexpr std::string_view hiddenContent[] = {"script",   "style",    "textarea", "title",
                                              "template", "noscript", "iframe",   "object",
                                              "select",   "xmp",      "noembed",  "noframes"};

const Allowed* allowedTag(std::string_view name) {
    for (const Allowed& allowed : allowedTags)
        if (allowed.tag == name) return &allowed;
    return nullptr;
}

template <typename Names> bool oneOf(const Names& names, std::string_view name) {
    for (std::string_view known : names)
        if (known == name) return true;
    return false;
}

// A link's address is kept when it is relative or a web or mail address: scripts and
// data hidden in other schemes never reach the page.
bool safeAddress(std::string_view address) {
    std::string scheme;
    for (const char c : address) {
        if (static_cast<unsigned char>(c) <= ' ') continue; // readers skip these too
        if (c == ':') return scheme == "http" || scheme == "https" || scheme == "mailto";
        if (c == '/' || c == '?' || c == '#') return true;
        scheme += lower(c);
    }
    return true;
}

void appendTag(std::string& out, const Tag& tag, const Allowed& allowed) {
    out += tag.closing ? "</" : "<";
    out += tag.name;
    if (!tag.closing) {
        std::vector<std::string_view> written;
        for (const Attribute& attribute : tag.attributes) {
            const std::string& name = attribute.name;
            const bool own = oneOf(allowed.attributes, name) && !name.empty();
            if (!own && !oneOf(commonAttributes, name) && !name.starts_with("aria-")) continue;
            // A name written twice counts once, the first time, as browsers read it: what
            // comes later (a second src or href) is never checked and never written.
            if (oneOf(written, name)) continue;
            written.push_back(name);
            // Written back with every "&" escaped, the value means exactly this to every
            // reader, however leniently it resolves references ("&#58" without its
            // semicolon is a colon to a browser).
            const std::string value = resolvedReferences(attribute.value);
            if (name == "href" && !safeAddress(value)) continue;
            out += ' ';
            out += name;
            if (!attribute.hasValue) continue;
            out += "=\"";
            appendEscaped(out, value);
            out += '"';
        }
    }
    out += '>';
}

// Comments, processing instructions and declarations show nothing in a page; they pass
// as written, but with no "<" or ">" inside, so that no reader can find their end, or a
// tag, anywhere but where CommonMark found it. CDATA sections, which an HTML page never
// shows either, are left out: the office engine would show their content.
void appendInert(std::string& out, std::string_view html) {
    if (html.starts_with("<![CDATA[")) return;
    std::size_t open = 2;
    std::size_t close = 1;
    if (html.starts_with("<!--")) {
        if (html == "<!-->" || html == "<!--->") {
            out += html;
            return;
        }
        open = 4;
        close = 3;
    } else if (html.starts_with("<?")) {
        close = 2;
    }
    out += html.substr(0, open);
    for (const char c : html.substr(open, html.size() - open - close)) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    out += html.substr(html.size() - close);
}

std::size_t closedBy(std::string_view text, std::size_t from, std::string_view end, bool& missing) {
    const std::size_t at = missing ? std::string_view::npos : text.find(end, from);
    missing = at == std::string_view::npos;
    return missing ? 0 : at + end.size();
}

Tag parseTag(std::string_view text) {
    HtmlScan scan;
    return parseTag(text, scan);
}

} // namespace

std::size_t rawHtmlLength(std::string_view text, HtmlScan& scan) {
    if (text.size() < 2 || text[0] != '<') return 0;
    if (text.substr(0, 4) == "<!--") {
        if (text.substr(4, 1) == ">") return 5;
        if (text.substr(4, 2) == "->") return 6;
        return closedBy(text, 4, "-->", scan.noCommentEnd);
    }
    if (text[1] == '?') return closedBy(text, 2, "?>", scan.noInstructionEnd);
    if (text.substr(0, 9) == "<![CDATA[") return closedBy(text, 9, "]]>", scan.noCdataEnd);
    if (text[1] == '!')
        return text.size() > 2 && isLetter(text[2]) ? closedBy(text, 3, ">", scan.noDeclarationEnd)
                                                    : 0;
    return parseTag(text, scan).length;
}

int htmlBlockStart(std::string_view line, bool interruptsParagraph) {
    if (line.empty() || line[0] != '<') return 0;
    for (std::string_view name : {"script", "pre", "textarea", "style"}) {
        if (!startsWithNoCase(line.substr(1), name)) continue;
        const std::size_t after = 1 + name.size();
        if (after == line.size() || line[after] == ' ' || line[after] == '\t' ||
            line[after] == '>' || line[after] == '\n')
            return 1;
    }
    if (line.substr(0, 4) == "<!--") return 2;
    if (line.substr(0, 2) == "<?") return 3;
    if (line.size() > 2 && line[1] == '!' && isLetter(line[2])) return 4;
    if (line.substr(0, 9) == "<![CDATA[") return 5;
    static constexpr std::string_view blockNames[] = {
        "address", "article",  "aside",   "base",     "basefont", "blockquote", "body",
        "caption", "center",   "col",     "colgroup", "dd",       "details",    "dialog",
        "dir",     "div",      "dl",      "dt",       "fieldset", "figcaption", "figure",
        "footer",  "form",     "frame",   "frameset", "h1",       "h2",         "h3",
        "h4",      "h5",       "h6",      "head",     "header",   "hr",         "html",
        "iframe",  "legend",   "li",      "link",     "main",     "menu",       "menuitem",
        "nav",     "noframes", "ol",      "optgroup", "option",   "p",          "param",
        "search",  "section",  "summary", "table",    "tbody",    "td",         "tfoot",
        "th",      "thead",    "title",   "tr",       "track",    "ul"};
    std::size_t at = line.size() > 1 && line[1] == '/' ? 2 : 1;
    std::string name;
    while (at < line.size() && (isLetter(line[at]) || isDigit(line[at])))
        name += lower(line[at++]);
    if (!name.empty() && oneOf(blockNames, name)) {
        if (at == line.size()) return 6;
        const char c = line[at];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '>' ||
            (c == '/' && at + 1 < line.size() && line[at + 1] == '>'))
            return 6;
    }
    if (interruptsParagraph) return 0;
    std::string_view single = line;
    while (!single.empty() && (single.back() == '\n' || single.back() == '\r'))
        single.remove_suffix(1);
    const Tag tag = parseTag(single);
    if (tag.length == 0 || tag.name == "script" || tag.name == "style" || tag.name == "pre" ||
        tag.name == "textarea")
        return 0;
    for (std::size_t rest = tag.length; rest < single.size(); ++rest)
        if (single[rest] != ' ' && single[rest] != '\t') return 0;
    // A tag broken over lines is no lone tag on this one.
    return single.substr(0, tag.length).find('\n') == std::string_view::npos ? 7 : 0;
}

bool htmlBlockEnds(int kind, std::string_view line) {
    switch (kind) {
    case 1:
        return containsNoCase(line, "</script>") || containsNoCase(line, "</pre>") ||
               containsNoCase(line, "</textarea>") || containsNoCase(line, "</style>");
    case 2:
        return line.find("-->") != std::string_view::npos;
    case 3:
        return line.find("?>") != std::string_view::npos;
    case 4:
        return line.find('>') != std::string_view::npos;
    case 5:
        return line.find("]]>") != std::string_view::npos;
    default:
        return false;
    }
}

void appendSafeHtml(std::string& out, std::string_view html) {
    HtmlScan scan;
    std::size_t at = 0;
    while (at < html.size()) {
        const std::size_t open = html.find('<', at);
        out.append(html.substr(at, open == std::string_view::npos ? open : open - at));
        if (open == std::string_view::npos) break;
        const std::string_view rest = html.substr(open);
        const std::size_t length = rawHtmlLength(rest, scan);
        if (length == 0) {
            out += "&lt;";
            at = open + 1;
            continue;
        }
        at = open + length;
        if (rest[1] == '!' || rest[1] == '?') {
            appendInert(out, rest.substr(0, length));
            continue;
        }
        const Tag tag = parseTag(rest.substr(0, length), scan);
        if (!tag.closing && oneOf(hiddenContent, tag.name)) {
            // Up to the matching closing tag, or the end of what was written.
            std::size_t end = at;
            for (;;) {
                end = html.find("</", end);
                if (end == std::string_view::npos) {
                    at = html.size();
                    break;
                }
                const Tag closing = parseTag(html.substr(end));
                if (closing.length > 0 && closing.name == tag.name) {
                    at = end + closing.length;
                    break;
                }
                end += 2;
            }
            continue;
        }
        if (const Allowed* allowed = allowedTag(tag.name)) appendTag(out, tag, *allowed);
    }
}

} // namespace lumatra::Markdown
