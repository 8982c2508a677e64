#include "tools/tool_text.h"

#include <cctype>

namespace lumatra {
namespace {

constexpr char escape = '\x1B';
constexpr char bell = '\x07';

// Where the escape sequence starting at `at` (an ESC) ends.
std::size_t skipEscape(std::string_view line, std::size_t at) {
    std::size_t i = at + 1;
    if (i >= line.size()) return i;
    const char kind = line[i++];
    if (kind == '[') {
        // Control sequence: parameters and intermediates up to a final byte in @..~.
        while (i < line.size() && !(line[i] >= '@' && line[i] <= '~'))
            ++i;
        return i < line.size() ? i + 1 : i;
    }
    if (kind == ']' || kind == 'P' || kind == '_' || kind == '^') {
        // A string command, ended by BEL or by ESC backslash.
        while (i < line.size()) {
            if (line[i] == bell) return i + 1;
            if (line[i] == escape) return i + 2 <= line.size() ? i + 2 : line.size();
            ++i;
        }
        return i;
    }
    return i;
}

bool isHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Length of "0x" and six or more hexadecimal digits at `at`; 0 when there is none.
std::size_t addressAt(std::string_view text, std::size_t at) {
    if (text.substr(at, 2) != "0x") return 0;
    if (at > 0 && std::isalnum(static_cast<unsigned char>(text[at - 1]))) return 0;
    std::size_t end = at + 2;
    while (end < text.size() && isHex(text[end]))
        ++end;
    return end - at - 2 >= 6 ? end - at : 0;
}

} // namespace

std::string cleanToolLine(std::string_view line) {
    std::string plain;
    plain.reserve(line.size());
    for (std::size_t i = 0; i < line.size();) {
        const char c = line[i];
        if (c == escape) {
            i = skipEscape(line, i);
            continue;
        }
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == '\x7F') {
            ++i;
            continue;
        }
        plain += c;
        ++i;
    }

    std::string out;
    out.reserve(plain.size());
    for (std::size_t i = 0; i < plain.size();) {
        if (plain.compare(i, 3, " @ ") == 0) {
            if (const std::size_t length = addressAt(plain, i + 3)) {
                i += 3 + length;
                continue;
            }
        }
        if (const std::size_t length = addressAt(plain, i)) {
            i += length;
            // Keep one space where the address stood between two words.
            if (!out.empty() && out.back() == ' ' && i < plain.size() && plain[i] == ' ') ++i;
            continue;
        }
        out += plain[i++];
    }
    return out;
}

} // namespace lumatra
