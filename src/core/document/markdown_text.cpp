#include "document/markdown_text.h"

#include <glib.h>

#include <cctype>
#include <memory>

namespace lumatra::Markdown {

char32_t decodeAt(std::string_view text, std::size_t at, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    length = 1;
    if (lead < 0x80) return lead;
    std::size_t need = 0;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        value = lead & 0x07;
    } else {
        return 0xFFFD;
    }
    if (at + need >= text.size()) return 0xFFFD;
    for (std::size_t i = 1; i <= need; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0xFFFD;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    length = need + 1;
    return value;
}

char32_t decodeBefore(std::string_view text, std::size_t at) {
    if (at == 0) return '\n';
    std::size_t start = at - 1;
    while (start > 0 && at - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
        --start;
    std::size_t length = 0;
    const char32_t c = decodeAt(text, start, length);
    return start + length == at ? c : 0xFFFD;
}

void appendCodePoint(std::string& out, char32_t c) {
    if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isUnicodeWhitespace(char32_t c) {
    if (c < 0x80) return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
    return c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

bool isAsciiPunctuation(char c) {
    return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') ||
           (c >= '{' && c <= '~');
}

bool isUnicodePunctuation(char32_t c) {
    if (c < 0x80) return isAsciiPunctuation(static_cast<char>(c));
    switch (g_unichar_type(static_cast<gunichar>(c))) {
    case G_UNICODE_CONNECT_PUNCTUATION:
    case G_UNICODE_DASH_PUNCTUATION:
    case G_UNICODE_CLOSE_PUNCTUATION:
    case G_UNICODE_FINAL_PUNCTUATION:
    case G_UNICODE_INITIAL_PUNCTUATION:
    case G_UNICODE_OTHER_PUNCTUATION:
    case G_UNICODE_OPEN_PUNCTUATION:
    case G_UNICODE_CURRENCY_SYMBOL:
    case G_UNICODE_MODIFIER_SYMBOL:
    case G_UNICODE_MATH_SYMBOL:
    case G_UNICODE_OTHER_SYMBOL:
        return true;
    default:
        return false;
    }
}

namespace {

bool isAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::size_t decodeEntity(std::string_view text, std::string& out) {
    if (text.size() < 3 || text[0] != '&') return 0;
    if (text[1] == '#') {
        const bool hex = text[2] == 'x' || text[2] == 'X';
        std::size_t at = hex ? 3 : 2;
        const std::size_t maxDigits = hex ? 6 : 7;
        char32_t value = 0;
        std::size_t digits = 0;
        while (at < text.size() && digits < maxDigits) {
            const int digit = hex ? hexValue(text[at])
                                  : (text[at] >= '0' && text[at] <= '9' ? text[at] - '0' : -1);
            if (digit < 0) break;
            value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
            ++digits;
            ++at;
        }
        if (digits == 0 || at >= text.size() || text[at] != ';') return 0;
        appendCodePoint(out, value);
        return at + 1;
    }
    std::size_t at = 1;
    while (at < text.size() && at <= 33 && isAsciiAlnum(text[at]))
        ++at;
    if (at == 1 || at >= text.size() || text[at] != ';') return 0;
    const std::string_view value = namedEntity(text.substr(1, at - 1));
    if (value.empty()) return 0;
    out.append(value);
    return at + 1;
}

std::string resolvedReferences(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '&') {
            const std::size_t length = decodeEntity(text.substr(at), out);
            if (length > 0) {
                at += length - 1;
                continue;
            }
        }
        out += text[at];
    }
    return out;
}

void appendUnescaped(std::string& out, std::string_view text) {
    std::size_t copied = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && isAsciiPunctuation(text[i + 1])) {
            out.append(text.substr(copied, i - copied));
            ++i;
            copied = i;
            continue;
        }
        if (text[i] != '&') continue;
        const std::size_t before = out.size();
        out.append(text.substr(copied, i - copied));
        const std::size_t length = decodeEntity(text.substr(i), out);
        if (length == 0) {
            out.resize(before);
            continue;
        }
        i += length - 1;
        copied = i + 1;
    }
    out.append(text.substr(copied));
}

std::string normalizedLabel(std::string_view label) {
    std::string collapsed;
    collapsed.reserve(label.size());
    bool space = false;
    for (const char c : label) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
            space = !collapsed.empty();
            continue;
        }
        if (space) collapsed += ' ';
        space = false;
        collapsed += c;
    }
    bool ascii = true;
    for (const char c : collapsed)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        for (char& c : collapsed)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return collapsed;
    }
    const std::unique_ptr<gchar, decltype(&g_free)> valid(
        g_utf8_make_valid(collapsed.data(), static_cast<gssize>(collapsed.size())), g_free);
    const std::unique_ptr<gchar, decltype(&g_free)> folded(g_utf8_casefold(valid.get(), -1),
                                                           g_free);
    return folded.get();
}

bool isScriptAddress(std::string_view address) {
    std::size_t at = 0;
    while (at < address.size() && static_cast<unsigned char>(address[at]) <= ' ')
        ++at;
    std::string scheme;
    for (; at < address.size() && address[at] != ':' && scheme.size() < 16; ++at) {
        const char c = address[at];
        if (c == '\t' || c == '\n' || c == '\r') continue; // readers drop these in schemes
        scheme += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (at >= address.size() || address[at] != ':') return false;
    if (scheme == "data") {
        // Pictures may be inline; a page or a script may not.
        std::string type;
        for (++at; at < address.size() && address[at] != ';' && address[at] != ','; ++at)
            type += static_cast<char>(std::tolower(static_cast<unsigned char>(address[at])));
        return type != "image/png" && type != "image/gif" && type != "image/jpeg" &&
               type != "image/webp";
    }
    return scheme == "javascript" || scheme == "vbscript" || scheme == "livescript";
}

} // namespace lumatra::Markdown
