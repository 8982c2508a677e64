#include "richtext/rtf_writer.h"

#include "core/pdf/pdf_samples.h"

#include <gtest/gtest.h>

#include <string>

namespace lumatra {
namespace {

// Fonts by first use, sizes in half points, specials escaped, and every character outside
// ASCII as \uN with its fallback (two halves beyond the first plane; invalid bytes as
// U+FFFD), so that the document is plain ASCII.
TEST(RtfWriter, StyledTextBecomesPlainAsciiRichText) {
    AttributedText text;
    CharacterStyle bold;
    bold.bold = true;
    bold.fontFamily = "DejaVu Serif;";
    bold.fontSize = 15.5;
    CharacterStyle italic;
    italic.italic = true;
    text.append("Ж {x}", bold);
    text.append("\\ ", bold);
    text.append("я\t😀\n", italic);
    AttributedText more;
    more.append("bad \xFF byte");
    text.append(more);
    const std::string rtf = RtfWriter::write(text);
    EXPECT_EQ(rtf, "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n"
                   "{\\fonttbl{\\f0\\fnil\\fcharset0 Helvetica;}{\\f1\\fnil\\fcharset0 DejaVu "
                   "Serif;}}\n{\\colortbl;}\n"
                   "\\pard\\ql {\\f1\\fs31\\b \\u1046? \\{x\\}\\\\ }"
                   "{\\f0\\fs24\\i \\u1103?\\tab \\u-10179?\\u-8704?\\par}\n"
                   "\\pard\\ql {\\f0\\fs24 bad \\u-3? byte}\n}\n");
    EXPECT_EQ(test::rtfText(rtf), "Ж {x}\\ я\t😀\nbad \uFFFD byte");
}

} // namespace
} // namespace lumatra
