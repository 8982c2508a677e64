#pragma once
// Byte-wise ASCII helpers for markup and addresses, which leave every other byte alone.

namespace lumatra::ascii {

/// `c` in lower case when it is an ASCII capital; any other byte unchanged.
inline char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

/// HTML's white space: space, tab, line feed, carriage return, form feed.
inline bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

/// The value of a hexadecimal digit of either case; -1 for any other byte.
inline int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace lumatra::ascii
