#pragma once
// The small line-oriented Markdown renderer that turns a Markdown document into one
// self-contained HTML page.

#include <optional>
#include <string>
#include <string_view>

namespace lumatra::Markdown {

/// A list item: `tag` is "ul" or "ol", `text` what follows the marker.
struct ListItem {
    std::string tag;
    std::string text;
    bool operator==(const ListItem&) const = default;
};

/// The complete HTML page for `markdown`, with `title` (escaped) as its title. Every
/// line is classified on its own: fenced code, blank, heading, rule, quote, list item,
/// paragraph. Anything unrecognised passes through as escaped text. Never fails; the
/// time taken is linear in the input.
std::string html(std::string_view markdown, std::string_view title);

/// `text` with "&", "<", ">" and "\"" escaped, then the inline forms (code, image, link,
/// bold, italic, strike-through) turned into HTML, each over the whole text in turn.
std::string inlineHtml(std::string_view text);

/// The level 1–6 of a heading line ("## Title"), or none.
std::optional<int> heading(std::string_view trimmedLine);

/// The list item of a line ("- a", "* [x] done", "3. c"), or none.
std::optional<ListItem> listItem(std::string_view trimmedLine);

/// `text` with "&", "<", ">" and "\"" escaped, appended to `out`.
void appendEscaped(std::string& out, std::string_view text);

/// `line` without leading and trailing tabs and Unicode space separators.
std::string_view trimmed(std::string_view line);

} // namespace lumatra::Markdown
