#include "data/number_text.h"

namespace lumatra::numberText {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Advances `i` over digits and answers how many there were.
std::size_t digits(std::string_view text, std::size_t& i) {
    const std::size_t start = i;
    while (i < text.size() && isDigit(text[i]))
        ++i;
    return i - start;
}

// The exponent part, if any, must run to the end of the text.
bool exponentToEnd(std::string_view text, std::size_t i) {
    if (i == text.size()) return true;
    if (text[i] != 'e' && text[i] != 'E') return false;
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    return digits(text, i) > 0 && i == text.size();
}

} // namespace

bool isDecimal(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t count = digits(text, i);
    if (i < text.size() && text[i] == '.') {
        ++i;
        count += digits(text, i);
    }
    return count > 0 && exponentToEnd(text, i);
}

bool isStrictJson(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') ++i;
    if (i == text.size()) return false;
    if (text[i] == '0') {
        ++i;
    } else if (digits(text, i) == 0) {
        return false;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (digits(text, i) == 0) return false;
    }
    return exponentToEnd(text, i);
}

} // namespace lumatra::numberText
