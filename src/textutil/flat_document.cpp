#include "flat_document.h"

#include <cstdlib>
#include <span>
#include <tuple>

namespace lumatra::textutil {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The tag starting at `at` ("<name attr=…>") with the attributes in `drop` removed and
// `add` appended to its attributes.
std::string rewrittenTag(std::string_view tag, std::initializer_list<std::string_view> drop,
                         std::string_view add) {
    std::string out;
    std::size_t at = 1;
    while (at < tag.size() && !isSpace(tag[at]) && tag[at] != '>' && tag[at] != '/')
        ++at;
    out.append(tag.substr(0, at));
    for (;;) {
        std::size_t name = at;
        while (name < tag.size() && isSpace(tag[name]))
            ++name;
        if (name >= tag.size() || tag[name] == '>' || tag[name] == '/') {
            out.append(" ").append(add).append(tag.substr(name));
            return out;
        }
        std::size_t equals = tag.find('=', name);
        if (equals == std::string_view::npos) return std::string(tag);
        std::size_t open = equals + 1;
        while (open < tag.size() && isSpace(tag[open]))
            ++open;
        if (open >= tag.size() || (tag[open] != '"' && tag[open] != '\'')) return std::string(tag);
        const std::size_t close = tag.find(tag[open], open + 1);
        if (close == std::string_view::npos) return std::string(tag);
        std::string_view attribute = tag.substr(name, equals - name);
        while (!attribute.empty() && isSpace(attribute.back()))
            attribute.remove_suffix(1);
        bool dropped = false;
        for (const auto word : drop)
            dropped = dropped || attribute == word;
        if (!dropped) out.append(" ").append(tag.substr(name, close + 1 - name));
        at = close + 1;
    }
}

// The UTF-8 character at the start of `text` and its length; 0 for a malformed start.
std::pair<char32_t, std::size_t> firstCharacter(std::string_view text) {
    if (text.empty()) return {0, 0};
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    if (byte(0) < 0x80) return {byte(0), 1};
    const std::size_t length = byte(0) >= 0xF0 ? 4 : byte(0) >= 0xE0 ? 3 : byte(0) >= 0xC0 ? 2 : 0;
    if (length == 0 || text.size() < length) return {0, 0};
    char32_t value = byte(0) & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return {0, 0};
        value = (value << 6) | (byte(i) & 0x3F);
    }
    return {value, length};
}

std::string utf8(char32_t c) {
    std::string out;
    if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (c & 0x3F));
    return out;
}

// The Unicode character a symbol font's private-use bullet `code` (0xF000–0xF0FF) shows.
char32_t unicodeBullet(char32_t code, bool wingdings) {
    struct Pair {
        unsigned char code;
        char32_t character;
    };
    static constexpr Pair symbol[] = {{0xB7, U'\u2022'},
                                      {0xA8, U'\u2666'},
                                      {0xAE, U'\u2192'},
                                      {0xDE, U'\u21D2'},
                                      {0x2D, U'\u2212'}};
    static constexpr Pair dingbats[] = {{0xA7, U'\u25AA'}, {0xD8, U'\u27A2'}, {0xFC, U'\u2713'},
                                        {0x76, U'\u2756'}, {0x71, U'\u2751'}, {0xA8, U'\u25FB'},
                                        {0x6E, U'\u25A0'}, {0x6C, U'\u25CF'}, {0x9F, U'\u2022'}};
    for (const auto& pair :
         wingdings ? std::span<const Pair>(dingbats) : std::span<const Pair>(symbol))
        if (pair.code == (code & 0xFF)) return pair.character;
    return U'\u2022'; // a bullet we cannot name is still a bullet
}

} // namespace

std::string withUnicodeBullets(std::string_view xml) {
    constexpr std::string_view element = "<text:list-level-style-bullet";
    constexpr std::string_view closing = "</text:list-level-style-bullet>";
    constexpr std::string_view attribute = "text:bullet-char=\"";
    std::string out;
    out.reserve(xml.size());
    std::size_t copied = 0;
    for (std::size_t at = xml.find(element); at != std::string_view::npos;
         at = xml.find(element, copied)) {
        const std::size_t close = xml.find(closing, at);
        const std::size_t tagEnd = xml.find('>', at);
        if (close == std::string_view::npos || tagEnd == std::string_view::npos) break;
        const std::size_t end = close + closing.size();
        std::string level(xml.substr(at, end - at));
        out.append(xml.substr(copied, at - copied));
        copied = end;
        const std::size_t value = level.find(attribute);
        if (value == std::string::npos || value > tagEnd - at) {
            out += level;
            continue;
        }
        const std::size_t start = value + attribute.size();
        std::size_t length = 0;
        char32_t code = 0;
        if (level.compare(start, 3, "&#x") == 0) {
            const std::size_t semicolon = level.find(';', start);
            if (semicolon != std::string::npos && semicolon - start <= 8) {
                code = static_cast<char32_t>(std::strtoul(
                    level.substr(start + 3, semicolon - start - 3).c_str(), nullptr, 16));
                length = semicolon + 1 - start;
            }
        } else {
            std::tie(code, length) = firstCharacter(std::string_view(level).substr(start));
        }
        if (code < 0xF000 || code > 0xF0FF || length == 0) {
            out += level;
            continue;
        }
        const bool wingdings = level.find("Wingdings") != std::string::npos;
        level.replace(start, length, utf8(unicodeBullet(code, wingdings)));
        // The character is drawn in the text's own font, not the symbol font.
        for (const std::string_view font : {" style:font-name=\"", " fo:font-family=\""}) {
            const std::size_t name = level.find(font);
            if (name == std::string::npos) continue;
            const std::size_t quote = level.find('"', name + font.size());
            if (quote != std::string::npos) level.erase(name, quote + 1 - name);
        }
        out += level;
    }
    out.append(xml.substr(copied));
    return out;
}

std::string withA4Pages(std::string_view xml) {
    constexpr std::string_view element = "<style:page-layout-properties";
    constexpr std::string_view geometry =
        "fo:page-width=\"595.28pt\" fo:page-height=\"841.89pt\" "
        "style:print-orientation=\"portrait\" fo:margin-top=\"56pt\" "
        "fo:margin-bottom=\"56pt\" fo:margin-left=\"56pt\" fo:margin-right=\"56pt\"";
    std::string out;
    out.reserve(xml.size() + 1024);
    std::size_t copied = 0;
    for (std::size_t at = xml.find(element); at != std::string_view::npos;
         at = xml.find(element, at + 1)) {
        const std::size_t next = at + element.size();
        if (next >= xml.size() || !(isSpace(xml[next]) || xml[next] == '>' || xml[next] == '/'))
            continue;
        const std::size_t end = xml.find('>', at);
        if (end == std::string_view::npos) break;
        out.append(xml.substr(copied, at - copied));
        out.append(
            rewrittenTag(xml.substr(at, end + 1 - at),
                         {"fo:page-width", "fo:page-height", "style:print-orientation", "fo:margin",
                          "fo:margin-top", "fo:margin-bottom", "fo:margin-left", "fo:margin-right"},
                         geometry));
        copied = end + 1;
        at = end;
    }
    out.append(xml.substr(copied));
    return out;
}

std::string withoutMetadata(std::string_view xml) {
    constexpr std::string_view opening = "<office:meta>";
    constexpr std::string_view closing = "</office:meta>";
    const std::size_t at = xml.find(opening);
    if (at == std::string_view::npos) return std::string(xml);
    const std::size_t end = xml.find(closing, at);
    if (end == std::string_view::npos) return std::string(xml);
    std::string out(xml.substr(0, at + opening.size()));
    out.append(xml.substr(end));
    return out;
}

std::string withoutAnnotations(std::string_view xml) {
    std::string out;
    out.reserve(xml.size());
    std::size_t copied = 0;
    for (std::size_t at = xml.find("<office:annotation"); at != std::string_view::npos;
         at = xml.find("<office:annotation", copied)) {
        const std::size_t end = xml.find('>', at);
        if (end == std::string_view::npos) break;
        out.append(xml.substr(copied, at - copied));
        const std::string_view tag = xml.substr(at, end + 1 - at);
        const bool empty = tag.size() >= 2 && tag[tag.size() - 2] == '/';
        if (empty || tag.starts_with("<office:annotation-end")) {
            copied = end + 1;
            continue;
        }
        // Comments do not nest: the element ends at the next closing tag.
        constexpr std::string_view closing = "</office:annotation>";
        const std::size_t close = xml.find(closing, end);
        copied = close == std::string_view::npos ? xml.size() : close + closing.size();
    }
    out.append(xml.substr(copied));
    return out;
}

} // namespace lumatra::textutil
