// Raw HTML as a Markdown document may hold it, on arbitrary bytes: whatever comes out
// holds only the tags and attributes a page opened offline may keep. No comment, script,
// style, frame, form or event attribute, and no link into another scheme than http,
// https or mailto.
#include "document/markdown.h"
#include "document/markdown_html.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

namespace {

const std::set<std::string, std::less<>> tags = {
    "a",    "abbr",   "b",          "bdi",    "blockquote", "br",  "caption", "center",
    "cite", "code",   "dd",         "del",    "details",    "dfn", "div",     "dl",
    "dt",   "em",     "figcaption", "figure", "h1",         "h2",  "h3",      "h4",
    "h5",   "h6",     "hr",         "i",      "img",        "ins", "kbd",     "li",
    "mark", "ol",     "p",          "pre",    "q",          "s",   "samp",    "small",
    "span", "strike", "strong",     "sub",    "summary",    "sup", "table",   "tbody",
    "td",   "th",     "thead",      "tr",     "tfoot",      "u",   "ul",      "var",
    "html", "head",   "title",      "body",   "meta"};
const std::set<std::string, std::less<>> attributes = {
    "align",  "id",          "class",       "title",   "lang",    "dir",    "href",  "name",
    "open",   "src",         "alt",         "width",   "height",  "value",  "start", "type",
    "border", "cellpadding", "cellspacing", "colspan", "rowspan", "valign", "style", "charset"};

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Aborts unless every tag of `html` is one of the kept ones with kept attributes.
void checkTags(std::string_view html, bool page) {
    for (std::size_t at = html.find('<'); at != std::string_view::npos;
         at = html.find('<', at + 1)) {
        std::size_t p = at + 1;
        if (page && html.substr(at, 15) == "<!doctype html>") continue;
        if (p < html.size() && html[p] == '/') ++p;
        std::string name;
        while (p < html.size() && html[p] != ' ' && html[p] != '>')
            name += lower(html[p++]);
        if (page && name == "style") { // the renderer's own, in the head
            at = html.find("</style>", at);
            continue;
        }
        if (tags.find(name) == tags.end()) std::abort();
        // Attributes: name="value", values never hold a double quote.
        while (p < html.size() && html[p] == ' ') {
            ++p;
            std::string key;
            while (p < html.size() && html[p] != '=' && html[p] != ' ' && html[p] != '>')
                key += html[p++];
            if (attributes.find(key) == attributes.end()) std::abort();
            if ((key == "style" || key == "charset") && !page) std::abort();
            if (p < html.size() && html[p] == '=') {
                if (html.substr(p, 2) != "=\"") std::abort();
                const std::size_t end = html.find('"', p + 2);
                if (end == std::string_view::npos) std::abort();
                std::string value;
                for (std::size_t v = p + 2; v < end; ++v)
                    if (static_cast<unsigned char>(html[v]) > ' ') value += lower(html[v]);
                if (value.find('<') != std::string::npos) std::abort();
                const auto colon = value.find(':');
                // The renderer's own links are checked by its own rules.
                if (!page && key == "href" && colon != std::string::npos &&
                    value.find_first_of("/?#&") > colon && value.rfind("http:", 0) != 0 &&
                    value.rfind("https:", 0) != 0 && value.rfind("mailto:", 0) != 0)
                    std::abort();
                p = end + 1;
            }
        }
        if (p < html.size() && html[p] != '>') std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string safe;
    lumatra::Markdown::appendSafeHtml(safe, text);
    checkTags(safe, false);
    checkTags(lumatra::Markdown::html(text, "t"), true);
    return 0;
}
