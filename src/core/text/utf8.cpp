#include "text/utf8.h"

#include <array>
#include <cstdint>

namespace lumatra::utf8 {

namespace {

// Length of the well-formed sequence starting at `p`, or 0 when it is ill-formed; in
// that case `subpart` gets the length of its maximal subpart (at least 1).
std::size_t sequenceLength(const unsigned char* p, const unsigned char* end, std::size_t& subpart) {
    const unsigned char lead = p[0];
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        subpart = 1;
        return 0;
    }
    std::size_t i = 1;
    for (; i < length; ++i) {
        if (p + i >= end) break;
        const unsigned char byte = p[i];
        const unsigned char min = i == 1 ? low : 0x80;
        const unsigned char max = i == 1 ? high : 0xBF;
        if (byte < min || byte > max) break;
    }
    if (i == length) return length;
    subpart = i;
    return 0;
}

// Past the run of ASCII at `p`, eight bytes at a time; stops at the word holding the
// first byte that is not ASCII, or with fewer than eight bytes left.
const unsigned char* skipAsciiWords(const unsigned char* p, const unsigned char* end) {
    while (end - p >= 8) {
        std::uint64_t chunk;
        __builtin_memcpy(&chunk, p, 8);
        if (chunk & 0x8080808080808080ull) break;
        p += 8;
    }
    return p;
}

constexpr char replacement[] = "\xEF\xBF\xBD";

} // namespace

std::size_t validPrefix(std::string_view bytes) {
    const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = begin + bytes.size();
    const unsigned char* p = begin;
    while (p < end) {
        p = skipAsciiWords(p, end);
        if (p == end) break;
        if (*p < 0x80) {
            ++p;
            continue;
        }
        std::size_t subpart = 0;
        const std::size_t length = sequenceLength(p, end, subpart);
        if (length == 0) break;
        p += length;
    }
    return static_cast<std::size_t>(p - begin);
}

void appendRepaired(std::string& out, std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t valid = validPrefix(bytes);
        out.append(bytes.data(), valid);
        bytes.remove_prefix(valid);
        if (bytes.empty()) return;
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        std::size_t subpart = 1;
        sequenceLength(p, p + bytes.size(), subpart);
        out.append(replacement, 3);
        bytes.remove_prefix(subpart);
    }
}

Tally tally(std::string_view bytes) {
    Tally counts;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        p = skipAsciiWords(p, end);
        if (p == end) break;
        if (*p < 0x80) {
            ++p;
            continue;
        }
        std::size_t subpart = 1;
        const std::size_t length = sequenceLength(p, end, subpart);
        if (length > 0) {
            ++counts.multiByte;
            p += length;
        } else {
            ++counts.illFormed;
            p += subpart;
        }
    }
    return counts;
}

void appendCodePoint(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool fromWindows1251(std::string_view bytes, std::string& out) {
    // 80 to BF; C0 to FF are А to я in order. 0 marks the one unassigned byte.
    static constexpr std::array<char16_t, 64> upper{
        0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
        0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
        0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
        0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
        0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
        0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
        0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
        0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
    };
    out.clear();
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x80) {
            out.push_back(ch);
        } else if (byte >= 0xC0) {
            appendCodePoint(out, 0x0410 + (byte - 0xC0));
        } else {
            const char16_t c = upper[byte - 0x80];
            if (c == 0) return false;
            appendCodePoint(out, c);
        }
    }
    return true;
}

std::string withControlsEscaped(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    const auto escape = [&](unsigned char byte) {
        out += "\\x";
        out += hex[byte >> 4];
        out += hex[byte & 0x0F];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\r') {
            out += "\\r";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            escape(byte);
        } else if (byte == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            escape(byte);
            escape(static_cast<unsigned char>(text[++i]));
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace lumatra::utf8
