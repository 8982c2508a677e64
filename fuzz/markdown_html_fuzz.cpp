// Raw HTML as a Markdown document may hold it, on arbitrary bytes: whatever comes out
// holds only the tags and attributes a page opened offline may keep, each attribute once,
// and comments, processing instructions and declarations with no angle bracket inside.
// No script, style, frame, form or event attribute; no attribute value a browser could
// read other than as it was checked (a "&" only in "&amp;", "&quot;", "&lt;", "&gt;"); no
// link into another scheme than http, https or mailto; and once the pictures are settled
// for a web page, no picture address with a scheme or a host.
#include "document/markdown.h"
#include "document/markdown_html.h"
#include "document/markdown_pictures.h"

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
    "bdo",  "rp",     "rt",         "ruby",   "time",       "tt",  "wbr",     "html",
    "head", "title",  "body",       "meta"};
const std::set<std::string, std::less<>> attributes = {
    "align",  "id",    "class",   "title",       "lang",        "dir",     "href",
    "name",   "open",  "src",     "alt",         "width",       "height",  "value",
    "start",  "type",  "border",  "cellpadding", "cellspacing", "colspan", "rowspan",
    "valign", "style", "charset", "role",        "hspace",      "vspace",  "datetime"};

// The four references an attribute value may hold, resolved; aborts on any other "&".
std::string canonicalValue(std::string_view value) {
    static constexpr std::pair<std::string_view, char> references[] = {
        {"&amp;", '&'}, {"&quot;", '"'}, {"&lt;", '<'}, {"&gt;", '>'}};
    std::string text;
    for (std::size_t at = 0; at < value.size(); ++at) {
        if (value[at] != '&') {
            text += value[at];
            continue;
        }
        bool known = false;
        for (const auto& [written, c] : references)
            if (value.substr(at, written.size()) == written) {
                text += c;
                at += written.size() - 1;
                known = true;
                break;
            }
        if (!known) std::abort();
    }
    return text;
}

// A comment, processing instruction or declaration at `at`: where it ends, past which the
// search goes on; npos when there is none there. Aborts on an angle bracket inside.
std::size_t inertEnd(std::string_view html, std::size_t at) {
    const std::string_view rest = html.substr(at);
    if (rest.starts_with("<!-->")) return at + 4;
    if (rest.starts_with("<!--->")) return at + 5;
    std::string_view open = "<!";
    std::string_view close = ">";
    if (rest.starts_with("<!--")) {
        open = "<!--";
        close = "-->";
    } else if (rest.starts_with("<?")) {
        open = "<?";
        close = "?>";
    } else if (!rest.starts_with("<!")) {
        return std::string_view::npos;
    }
    const std::size_t end = rest.find(close, open.size());
    if (end == std::string_view::npos) std::abort();
    if (rest.substr(open.size(), end - open.size()).find_first_of("<>") != std::string_view::npos)
        std::abort();
    return at + end + close.size() - 1;
}

// A picture address without scheme or host (`value` without white space, lower case).
bool localAddress(const std::string& value) {
    if (value.starts_with("data:image/")) return true; // a picture carried in the page
    if (value.size() > 1 && (value[0] == '/' || value[0] == '\\') &&
        (value[1] == '/' || value[1] == '\\'))
        return false;
    const auto colon = value.find(':');
    return colon == std::string::npos || colon > value.find_first_of("/?#");
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Aborts unless every tag of `html` is one of the kept ones with kept attributes.
void checkTags(std::string_view html, bool page, bool pictures = false) {
    for (std::size_t at = html.find('<'); at != std::string_view::npos;
         at = html.find('<', at + 1)) {
        std::size_t p = at + 1;
        if (page && html.substr(at, 15) == "<!doctype html>") continue;
        if (const std::size_t end = inertEnd(html, at); end != std::string_view::npos) {
            at = end;
            continue;
        }
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
        std::set<std::string> seen;
        while (p < html.size() && html[p] == ' ') {
            ++p;
            std::string key;
            while (p < html.size() && html[p] != '=' && html[p] != ' ' && html[p] != '>')
                key += html[p++];
            if (attributes.find(key) == attributes.end() && !key.starts_with("aria-")) std::abort();
            if (!seen.insert(key).second) std::abort();
            if ((key == "style" || key == "charset") && !page) std::abort();
            if (p < html.size() && html[p] == '=') {
                if (html.substr(p, 2) != "=\"") std::abort();
                const std::size_t end = html.find('"', p + 2);
                if (end == std::string_view::npos) std::abort();
                std::string value;
                for (const char c : canonicalValue(html.substr(p + 2, end - p - 2)))
                    if (static_cast<unsigned char>(c) > ' ') value += lower(c);
                if (key == "src" && pictures && !localAddress(value)) std::abort();
                const auto colon = value.find(':');
                // The renderer's own links are checked by its own rules.
                if (!page && key == "href" && colon != std::string::npos &&
                    value.find_first_of("/?#") > colon && value.rfind("http:", 0) != 0 &&
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
    const std::string page = lumatra::Markdown::html(text, "t");
    checkTags(page, true);
    checkTags(lumatra::MarkdownPictures::embed(
                  page, "/nonexistent", lumatra::MarkdownPictures::Unembedded::localAddressKept),
              true, true);
    return 0;
}
