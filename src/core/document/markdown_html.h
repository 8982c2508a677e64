#pragma once
// HTML written into a Markdown document, as READMEs use it: recognised where CommonMark
// recognises it, and passed on only as far as it is safe in a page that is opened
// offline. Comments, processing instructions and declarations pass inert (they show
// nothing); CDATA sections are hidden. A fixed set of formatting, table and picture tags
// is kept with a fixed set of descriptive attributes; scripts, styles, frames, forms,
// event attributes and links with a scheme other than http, https and mailto never reach
// the page. Other tags are dropped and their content kept. Pictures are settled later,
// with the whole page (markdown_pictures.h).

#include <string>
#include <string_view>

namespace lumatra::Markdown {

/// What earlier searches over one text found missing up to its end, so that texts made of
/// many unclosed openings are still read in linear time.
struct HtmlScan {
    bool noCommentEnd = false;
    bool noInstructionEnd = false;
    bool noCdataEnd = false;
    bool noDeclarationEnd = false;
    bool noDoubleQuote = false;
    bool noSingleQuote = false;
};

/// The length of the raw HTML (open or closing tag, comment, processing instruction,
/// declaration or CDATA section) that starts `text` (at its "<"), or 0 when there is
/// none. Calls sharing `scan` must pass ever shorter ends of one text.
std::size_t rawHtmlLength(std::string_view text, HtmlScan& scan);

/// The kind (1 to 7) of HTML block a line starts, from its first non-space character;
/// 0 when none. Kind 7 (any lone tag) cannot interrupt a paragraph.
int htmlBlockStart(std::string_view line, bool interruptsParagraph);

/// Whether `line` ends an HTML block of kind 1 to 5 (kinds 6 and 7 end at a blank line).
bool htmlBlockEnds(int kind, std::string_view line);

/// `html` as it may appear in the page, appended to `out`.
void appendSafeHtml(std::string& out, std::string_view html);

} // namespace lumatra::Markdown
