#pragma once
// The Markdown renderer: CommonMark blocks and inlines, with GitHub's pipe tables,
// strike-through and task lists, turned into one self-contained HTML page. Raw HTML in
// the document is kept only as far as it is safe (markdown_html.h).

#include <string>
#include <string_view>

namespace lumatra::Markdown {

/// The complete HTML page for `markdown`, with `title` (escaped) as its title. Never
/// fails; time and stack are bounded by the input's length, whatever it holds.
std::string html(std::string_view markdown, std::string_view title);

/// The page's body alone: the HTML of the document's blocks, without a line feed after
/// the last one.
std::string bodyHtml(std::string_view markdown);

/// `text` with "&", "<", ">" and "\"" escaped, appended to `out`.
void appendEscaped(std::string& out, std::string_view text);

} // namespace lumatra::Markdown
