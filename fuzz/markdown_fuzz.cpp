// The Markdown renderer on arbitrary bytes: it always gives a complete page, and every
// "<" in the page opens one of the tags the renderer writes itself — the text of the
// document can never open a tag of its own.
#include "document/markdown.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

bool startsWithTag(std::string_view rest) {
    static constexpr std::string_view tags[] = {
        "<p>",  "</p>",  "<h1>", "</h1>", "<h2>",          "</h2>",          "<h3>",    "</h3>",
        "<h4>", "</h4>", "<h5>", "</h5>", "<h6>",          "</h6>",          "<hr>",    "<ul>",
        "</ul>", "<ol>", "</ol>", "<li>", "</li>",         "<blockquote>",   "</blockquote>",
        "<pre>", "</pre>", "<code>", "</code>", "<img alt=\"", "<a href=\"", "</a>", "<b>",
        "</b>", "<i>",   "</i>", "<s>",  "</s>",           "<!doctype html>", "<html>", "</html>",
        "<head>", "</head>", "<meta charset=\"utf-8\">", "<title>", "</title>", "<body ",
        "</body>"};
    for (const auto tag : tags)
        if (rest.substr(0, tag.size()) == tag) return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto split = text.find('\0');
    const auto title = split == std::string_view::npos ? std::string_view("t") : text.substr(0, split);
    const auto body = split == std::string_view::npos ? text : text.substr(split + 1);
    const std::string page = lumatra::Markdown::html(body, title);
    if (page.rfind("<!doctype html><html><head><meta charset=\"utf-8\"><title>", 0) != 0)
        std::abort();
    if (page.size() < 15 || page.compare(page.size() - 15, 15, "\n</body></html>") != 0)
        std::abort();
    for (std::size_t at = page.find('<'); at != std::string::npos; at = page.find('<', at + 1))
        if (!startsWithTag(std::string_view(page).substr(at))) std::abort();
    return 0;
}
