#pragma once
// Small PDF files written byte by byte for the tests, and ways to look inside PDFs,
// pictures and rich text without the converters themselves.

#include "support/fixtures.h"
#include "text/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace lumatra::test {

struct SamplePage {
    double width = 200;
    double height = 300;
    int rotate = 0;
    std::string text = {}; // ASCII drawn in Helvetica; empty draws a blue square only
    double cropWidth = 0; // a crop box from the origin when set
    double cropHeight = 0;
    std::string content = {}; // the page's content stream as it stands, when set
};

/// Besides /F1 (Helvetica), pages may draw Arabic with /F2 (Courier: every code 600 units
/// wide) and /F3 (Helvetica with the widths below), whose codes stand for these letters:
/// A ح, B the vowel mark fatha, C ب, D ي, E ل, F ا, G س, H م, I the ligature لا, space.
inline const std::string arabicCodes =
    "/CIDInit /ProcSet findresource begin 12 dict begin begincmap /CMapName /Arabic def "
    "1 begincodespacerange <00> <FF> endcodespacerange 10 beginbfchar <20> <0020> "
    "<41> <062D> <42> <064E> <43> <0628> <44> <064A> <45> <0644> <46> <0627> <47> <0633> "
    "<48> <0645> <49> <06440627> endbfchar endcmap CMapName currentdict /CMap defineresource "
    "pop end end";

/// A PDF with the given pages, in plain uncompressed PDF 1.4.
inline std::string samplePdf(const std::vector<SamplePage>& pages) {
    const auto stream = [](const std::string& content) {
        return "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
               "\nendstream";
    };
    // 1 catalog, 2 page tree, 3 to 5 the fonts, 6 the Arabic code map, then each page
    // followed by its content.
    const std::size_t pagesFirst = 7;
    std::string kids;
    for (std::size_t i = 0; i < pages.size(); ++i)
        kids += std::to_string(pagesFirst + 2 * i) + " 0 R ";
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /ToUnicode 6 0 R >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 6 0 R /FirstChar 65 "
        "/LastChar 68 /Widths [700 150 450 600] >>",
        stream(arabicCodes)};
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const SamplePage& page = pages[i];
        std::string box = "/MediaBox [0 0 " + std::to_string(page.width) + " " +
                          std::to_string(page.height) + "]";
        if (page.cropWidth > 0)
            box += " /CropBox [0 0 " + std::to_string(page.cropWidth) + " " +
                   std::to_string(page.cropHeight) + "]";
        objects.push_back("<< /Type /Page /Parent 2 0 R " + box + " /Rotate " +
                          std::to_string(page.rotate) +
                          " /Resources << /Font << /F1 3 0 R /F2 4 0 R /F3 5 0 R >> >> /Contents " +
                          std::to_string(pagesFirst + 2 * i + 1) + " 0 R >>");
        objects.push_back(stream(!page.content.empty() ? page.content
                                 : page.text.empty()
                                     ? "0.2 0.4 0.8 rg 10 10 50 50 re f"
                                     : "BT /F1 12 Tf 20 40 Td (" + page.text + ") Tj ET"));
    }
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const std::size_t offset : offsets) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

inline std::vector<SamplePage> textPages(int count) {
    std::vector<SamplePage> pages;
    for (int i = 1; i <= count; ++i)
        pages.push_back({200, 300, 0, "Page " + std::to_string(i)});
    return pages;
}

/// Runs a packaged tool and returns its standard output; fails the test on an error.
inline std::string toolOutput(const std::vector<std::string>& argv) {
    const ProcessOutput result = runProgram(argv);
    EXPECT_EQ(result.status, 0) << argv[0] << ": " << result.err;
    return result.out;
}

/// The text of an RTF document as a reader shows it: font, colour, style, information,
/// picture and other destination groups skipped; paragraph, line, row and page ends as
/// line feeds, tabs and cell ends as tabs, \uN as its character without its fallback.
inline std::string rtfText(std::string_view rtf) {
    struct Group {
        bool hidden = false;
        int fallback = 1; // \ucN
    };
    std::vector<Group> groups(1);
    std::string out;
    int skip = 0;      // fallback characters still to skip
    char32_t high = 0; // the first half of a surrogate pair
    const auto put = [&](char32_t c) {
        if (skip > 0) {
            --skip;
        } else if (!groups.back().hidden) {
            utf8::appendCodePoint(out, c);
        }
    };
    const std::string_view hidden = " fonttbl colortbl stylesheet info pict listtable "
                                    "listoverridetable rsidtbl fldinst xmlnstbl generator "
                                    "themedata latentstyles ";
    for (std::size_t at = 0; at < rtf.size();) {
        const char c = rtf[at++];
        if (c == '{' || c == '}') {
            if (c == '{') groups.push_back(groups.back());
            if (c == '}' && groups.size() > 1) groups.pop_back();
            skip = 0;
        } else if (c != '\\') {
            if (c != '\r' && c != '\n') put(static_cast<unsigned char>(c));
        } else if (at < rtf.size() && !std::isalpha(static_cast<unsigned char>(rtf[at]))) {
            const char symbol = rtf[at++];
            if (symbol == '*') groups.back().hidden = true;
            if (symbol == '\\' || symbol == '{' || symbol == '}')
                put(static_cast<unsigned char>(symbol));
            if (symbol == '~') put(0xA0);
            if (symbol == '\'' && at + 2 <= rtf.size()) {
                put(static_cast<char32_t>(std::stoi(std::string(rtf.substr(at, 2)), nullptr, 16)));
                at += 2;
            }
        } else {
            const std::size_t start = at;
            while (at < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[at])))
                ++at;
            const std::string_view word = rtf.substr(start, at - start);
            const std::size_t number = at;
            if (at < rtf.size() && rtf[at] == '-') ++at;
            while (at < rtf.size() && std::isdigit(static_cast<unsigned char>(rtf[at])))
                ++at;
            const int value =
                at > number ? std::stoi(std::string(rtf.substr(number, at - number))) : 0;
            if (at < rtf.size() && rtf[at] == ' ') ++at;
            if (hidden.find(" " + std::string(word) + " ") != std::string_view::npos)
                groups.back().hidden = true;
            if (word == "par" || word == "line" || word == "row" || word == "page") put('\n');
            if (word == "tab" || word == "cell") put('\t');
            if (word == "uc") groups.back().fallback = value;
            if (word == "u") {
                const auto unit = static_cast<char32_t>(value < 0 ? value + 65536 : value);
                if (unit >= 0xD800 && unit < 0xDC00) {
                    high = unit;
                } else {
                    put(unit >= 0xDC00 && unit < 0xE000 && high
                            ? 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00)
                            : unit);
                    high = 0;
                }
                skip = groups.back().fallback;
            }
        }
    }
    return out;
}

} // namespace lumatra::test
