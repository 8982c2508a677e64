#pragma once
// Character helpers shared by the Markdown block parser, inline parser and renderer.

#include <string>
#include <string_view>

namespace lumatra::Markdown {

/// The code point of the UTF-8 sequence at `at` and its byte length; a byte that starts
/// no well-formed sequence is U+FFFD of length 1. `at` must be inside `text`.
char32_t decodeAt(std::string_view text, std::size_t at, std::size_t& length);

/// The code point that ends right before `at` (U+000A, a line end, at the start).
char32_t decodeBefore(std::string_view text, std::size_t at);

/// `c` appended to `out` as UTF-8; surrogates, zero and values past U+10FFFF as U+FFFD.
void appendCodePoint(std::string& out, char32_t c);

/// Unicode white space as Markdown means it: the Zs separators, tab, line feed, form
/// feed and carriage return.
bool isUnicodeWhitespace(char32_t c);

/// ASCII punctuation and every character of the Unicode P and S categories.
bool isUnicodePunctuation(char32_t c);

bool isAsciiPunctuation(char c);

/// An ASCII white-space character: space, tab, line feed, form feed, carriage return.
inline bool isAsciiWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

/// A space or a tab.
inline bool isSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}

/// The UTF-8 text of the HTML5 character reference `name` (without "&" and ";"), or
/// empty when there is no such name.
std::string_view namedEntity(std::string_view name);

/// The length of the character reference ("&amp;", "&#35;", "&#x22;") at the start of
/// `text`, its text appended to `out`; 0 (and `out` unchanged) when there is none.
std::size_t decodeEntity(std::string_view text, std::string& out);

/// `text` (an HTML attribute's value) with its character references resolved.
std::string resolvedReferences(std::string_view text);

/// `text` with its backslash escapes and character references resolved, appended to
/// `out` (for link addresses, titles and info strings).
void appendUnescaped(std::string& out, std::string_view text);

/// A link label as references compare it: trimmed, inner white space one space, case
/// folded. Empty when the label is blank.
std::string normalizedLabel(std::string_view label);

/// A link address is dropped when its scheme can run a script in the reader: javascript:,
/// vbscript:, and data: other than a PNG, GIF, JPEG or WebP picture.
bool isScriptAddress(std::string_view address);

} // namespace lumatra::Markdown
