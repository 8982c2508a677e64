#pragma once
// UTF-8 helpers shared by the data readers and writers and the process runner.

#include <cstddef>
#include <string>
#include <string_view>

namespace lumatra::utf8 {

/// Length of the longest prefix of `bytes` that is well-formed UTF-8.
std::size_t validPrefix(std::string_view bytes);

inline bool isValid(std::string_view bytes) {
    return validPrefix(bytes) == bytes.size();
}

/// Appends `bytes` to `out`, each ill-formed sequence (each maximal subpart) replaced
/// by U+FFFD.
void appendRepaired(std::string& out, std::string_view bytes);

/// How much of a text is well-formed multi-byte UTF-8 and how much is not.
struct Tally {
    std::size_t multiByte = 0; // well-formed sequences of two to four bytes
    std::size_t illFormed = 0; // maximal ill-formed subparts, each one U+FFFD when repaired
};
Tally tally(std::string_view bytes);

/// Appends the UTF-8 encoding of a Unicode scalar value.
void appendCodePoint(std::string& out, char32_t codePoint);

/// Windows-1251 bytes as UTF-8. The code page leaves one byte (98) unassigned; the
/// answer is false when it occurs.
bool fromWindows1251(std::string_view bytes, std::string& out);

/// `text` for one line of a terminal: each control character (C0, DEL, and the C1
/// range U+0080–U+009F) written as an escape — \n, \r, \t, else \xHH per byte — so a
/// file name holding one can neither break the line nor move the cursor.
std::string withControlsEscaped(std::string_view text);

} // namespace lumatra::utf8
