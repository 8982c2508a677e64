#pragma once
// The parts of links shared by inline links and link reference definitions: labels,
// addresses and titles.

#include "document/markdown_blocks.h"

#include <cstddef>
#include <string_view>

namespace lumatra::Markdown {

/// The longest link label ("[" … "]", at most 999 characters inside, no unescaped
/// bracket inside, not blank) at the start of `text`: its length, or 0.
std::size_t scanLinkLabel(std::string_view text);

/// The link address at the start of `text`, either "<…>" on one line or a run without
/// spaces or control characters whose parentheses balance. Its length (0: none; "<>" is
/// an empty address of length 2); `raw` gets the address without its angle brackets.
std::size_t scanLinkAddress(std::string_view text, std::string_view& raw);

/// The link title ("…", '…' or (…)) at the start of `text`: its length, or 0; `raw` gets
/// the title without its quotes.
std::size_t scanLinkTitle(std::string_view text, std::string_view& raw);

/// The number of spaces, tabs and at most one line feed at `at`.
std::size_t skipSpacesAndOneLine(std::string_view text, std::size_t at);

/// The link reference definition at the start of the paragraph text `text`, recorded in
/// `references` unless its label is already there: its length up to and with its line
/// end, or 0 when `text` does not start with one.
std::size_t parseReferenceDefinition(std::string_view text, References& references);

} // namespace lumatra::Markdown
