#pragma once
// The second pass of the Markdown renderer: the inline content of one paragraph,
// heading or table cell — code spans, emphasis, links, images, autolinks, escapes,
// character references and line breaks — turned into HTML.

#include "document/markdown_blocks.h"

#include <string>
#include <string_view>

namespace lumatra::Markdown {

/// The HTML of the inline content `text`, appended to `out`. Link references are looked
/// up in `references`. Raw HTML is not passed through: a "<" that starts no autolink is
/// text. Time is linear in `text`; nothing recurses.
void appendInlineHtml(std::string& out, std::string_view text, const References& references);

} // namespace lumatra::Markdown
