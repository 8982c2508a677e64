#pragma once
// Matchers for the number texts the data readers recognise.

#include <string_view>

namespace lumatra::numberText {

/// A decimal floating-point text with "." as the point: an optional sign, digits with at
/// most one point and at least one digit, then optionally "e" or "E", an optional sign
/// and at least one digit. Leading zeros, "+1", ".5" and "5." are accepted.
bool isDecimal(std::string_view text);

/// Strict JSON number syntax: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
bool isStrictJson(std::string_view text);

} // namespace lumatra::numberText
