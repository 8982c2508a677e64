#include "richtext/rtf_tables.h"

#include "text/utf8.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <utility>

namespace lumatra::Rtf {

std::optional<Destination> destinationFor(std::string_view word) {
    static constexpr std::array<std::pair<std::string_view, Destination>, 60> table{{
        {"fonttbl", Destination::fontTable},
        {"colortbl", Destination::colorTable},
        {"pict", Destination::picture},
        {"fldinst", Destination::fieldInstruction},
        {"fldrslt", Destination::text},
        {"shppict", Destination::text},
        {"shptxt", Destination::text},
        {"result", Destination::text},
        {"listtext", Destination::text},
        {"pntext", Destination::text},
        {"shp", Destination::container},
        {"shpinst", Destination::container},
        {"sp", Destination::container},
        {"sv", Destination::container},
        {"object", Destination::container},
        {"shpgrp", Destination::container},
        {"nonshppict", Destination::skip},
        {"sn", Destination::skip},
        {"stylesheet", Destination::skip},
        {"info", Destination::skip},
        {"header", Destination::skip},
        {"headerl", Destination::skip},
        {"headerr", Destination::skip},
        {"headerf", Destination::skip},
        {"footer", Destination::skip},
        {"footerl", Destination::skip},
        {"footerr", Destination::skip},
        {"footerf", Destination::skip},
        {"footnote", Destination::skip},
        {"annotation", Destination::skip},
        {"pnseclvl", Destination::skip},
        {"pntxta", Destination::skip},
        {"pntxtb", Destination::skip},
        {"listtable", Destination::skip},
        {"listoverridetable", Destination::skip},
        {"revtbl", Destination::skip},
        {"rsidtbl", Destination::skip},
        {"generator", Destination::skip},
        {"xmlnstbl", Destination::skip},
        {"themedata", Destination::skip},
        {"colorschememapping", Destination::skip},
        {"latentstyles", Destination::skip},
        {"datastore", Destination::skip},
        {"filetbl", Destination::skip},
        {"pgdsctbl", Destination::skip},
        {"objdata", Destination::skip},
        {"picprop", Destination::skip},
        {"bkmkstart", Destination::skip},
        {"bkmkend", Destination::skip},
        {"txe", Destination::skip},
        {"xe", Destination::skip},
        {"tc", Destination::skip},
        {"do", Destination::skip},
        {"atnid", Destination::skip},
        {"atnauthor", Destination::skip},
        {"userprops", Destination::skip},
        {"docvar", Destination::skip},
        {"ftnsep", Destination::skip},
        {"ftnsepc", Destination::skip},
        {"aftnsep", Destination::skip},
    }};
    for (const auto& [name, destination] : table)
        if (name == word) return destination;
    return std::nullopt;
}

std::optional<std::string_view> specialCharacter(std::string_view word) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 13> table{{
        {"emdash", "\u2014"},
        {"endash", "\u2013"},
        {"bullet", "\u2022"},
        {"lquote", "\u2018"},
        {"rquote", "\u2019"},
        {"ldblquote", "\u201C"},
        {"rdblquote", "\u201D"},
        {"emspace", "\u2003"},
        {"enspace", "\u2002"},
        {"qmspace", "\u2005"},
        {"zwj", "\u200D"},
        {"zwnj", "\u200C"},
        {"zwbo", "\u200B"},
    }};
    for (const auto& [name, character] : table)
        if (name == word) return character;
    return std::nullopt;
}

int codePageForCharset(int charset) {
    switch (charset) {
    case 0:
        return 1252;
    case 77:
        return 10000;
    case 128:
        return 932;
    case 129:
        return 949;
    case 130:
        return 1361;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 254:
        return 437;
    case 255:
        return 850;
    default:
        return 0;
    }
}

struct CodePages::Converter {
    iconv_t handle = reinterpret_cast<iconv_t>(-1);
    ~Converter() {
        if (handle != reinterpret_cast<iconv_t>(-1)) iconv_close(handle);
    }
};

CodePages::CodePages() = default;
CodePages::~CodePages() = default;

namespace {

std::string iconvName(int codePage) {
    switch (codePage) {
    case 10000:
        return "MACINTOSH";
    case 1361:
        return "JOHAB";
    case 65001:
        return "UTF-8";
    default:
        return "CP" + std::to_string(codePage);
    }
}

} // namespace

std::string CodePages::decode(std::string_view bytes, int codePage) {
    std::string out;
    auto& converter = m_converters[codePage];
    if (!converter) {
        converter = std::make_unique<Converter>();
        if (codePage > 0 && codePage < 100000)
            converter->handle = iconv_open("UTF-8", iconvName(codePage).c_str());
    }
    if (converter->handle == reinterpret_cast<iconv_t>(-1)) {
        // No converter: ASCII as it is, everything else unknown.
        for (const char c : bytes)
            if (static_cast<unsigned char>(c) < 0x80)
                out.push_back(c);
            else
                out.append("\uFFFD");
        return out;
    }
    iconv(converter->handle, nullptr, nullptr, nullptr, nullptr);
    std::string buffer(bytes.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t result = iconv(converter->handle, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (result != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // An unassigned byte, or a lead byte without its trail: one replacement, go on.
        out.append("\uFFFD");
        ++in;
        --inLeft;
        iconv(converter->handle, nullptr, nullptr, nullptr, nullptr);
    }
    // Whatever iconv made, the text stays valid UTF-8.
    if (!utf8::isValid(out)) {
        std::string repaired;
        utf8::appendRepaired(repaired, out);
        return repaired;
    }
    return out;
}

} // namespace lumatra::Rtf
