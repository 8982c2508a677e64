// The Markdown renderer on arbitrary bytes: it always gives a complete page, every "<" in
// the page opens one of the tags the renderer writes itself — the text of the document
// can never open a tag of its own — and the tags nest properly. HTML the document holds
// is left out here (every "<" becomes "[") and tried by markdown_html_fuzz.
#include "document/markdown.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view voidTags[] = {"<hr>", "<br>", "<img src=\"", "<meta charset=\"utf-8\">",
                                         "<!doctype html>"};
constexpr std::string_view containerTags[] = {
    "p",          "h1",  "h2",   "h3",   "h4",   "h5",     "h6",   "ul",    "ol",    "li",
    "blockquote", "pre", "code", "a",    "em",   "strong", "s",    "table", "thead", "tbody",
    "tr",         "th",  "td",   "html", "head", "title",  "body", "style"};

// The name of the tag at the start of `rest` and whether it closes, or an empty name
// when `rest` starts with no tag the renderer writes.
std::string_view tagAt(std::string_view rest, bool& closing, bool& isVoid) {
    isVoid = false;
    for (const auto tag : voidTags) {
        if (rest.substr(0, tag.size()) == tag) {
            isVoid = true;
            return tag;
        }
    }
    closing = rest.size() > 1 && rest[1] == '/';
    const std::size_t start = closing ? 2 : 1;
    for (const auto name : containerTags) {
        if (rest.substr(start, name.size()) != name) continue;
        const char after = start + name.size() < rest.size() ? rest[start + name.size()] : 0;
        if (after == '>') return name;
        if (closing) continue;
        const std::string_view attributes = rest.substr(start + name.size());
        if ((name == "a" && attributes.substr(0, 7) == " href=\"") ||
            (name == "ol" && attributes.substr(0, 8) == " start=\"") ||
            (name == "code" && attributes.substr(0, 17) == " class=\"language-") ||
            ((name == "th" || name == "td") && attributes.substr(0, 8) == " align=\"") ||
            (name == "body" && attributes.substr(0, 8) == " style=\""))
            return name;
    }
    return {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto split = text.find('\0');
    const auto title =
        split == std::string_view::npos ? std::string_view("t") : text.substr(0, split);
    std::string body(split == std::string_view::npos ? text : text.substr(split + 1));
    for (char& c : body)
        if (c == '<') c = '[';
    const std::string page = lumatra::Markdown::html(body, title);
    if (page.rfind("<!doctype html><html><head><meta charset=\"utf-8\"><title>", 0) != 0)
        std::abort();
    if (page.size() < 15 || page.compare(page.size() - 15, 15, "\n</body></html>") != 0)
        std::abort();
    std::vector<std::string_view> open;
    for (std::size_t at = page.find('<'); at != std::string::npos; at = page.find('<', at + 1)) {
        bool closing = false;
        bool isVoid = false;
        const std::string_view name = tagAt(std::string_view(page).substr(at), closing, isVoid);
        if (name.empty()) std::abort();
        if (isVoid) continue;
        if (!closing) {
            open.push_back(name);
            continue;
        }
        if (open.empty() || open.back() != name) std::abort();
        open.pop_back();
    }
    if (!open.empty()) std::abort();
    return 0;
}
