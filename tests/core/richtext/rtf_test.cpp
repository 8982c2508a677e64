#include "richtext/rtf_reader.h"
#include "richtext/rtf_writer.h"

#include "formats/convert_error.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <string>

namespace lumatra {
namespace {

// The style of the run that holds byte `at` of the text.
const AttributedText::Run& runAt(const AttributedText& text, std::size_t at) {
    for (const auto& run : text.runs())
        if (at >= run.start && at < run.start + run.length) return run;
    throw std::out_of_range("no run at " + std::to_string(at));
}

const AttributedText::Run& runOf(const AttributedText& text, std::string_view needle) {
    const auto at = text.text().find(needle);
    if (at == std::string::npos) throw std::out_of_range(std::string(needle));
    return runAt(text, at);
}

TEST(RtfReaderText, CharactersInEveryEncodingBecomeUtf8) {
    struct Case {
        std::string rtf, text;
    } cases[] = {
        {R"({\rtf1\ansi plain text})", "plain text"},
        // \uN with the default one fallback character skipped, negative values wrap.
        {R"({\rtf1 \u1055?\u1088?\u1080?\u1074?\u1077?\u1090?})", "Привет"},
        {R"({\rtf1 \u-3?x})", "\uFFFDx"},
        // \uc2 skips two fallbacks, a \'hh counting as one; a group end stops skipping.
        {R"({\rtf1\uc2 \u1071\'3f\'3fa{\u1071?}b})", "ЯaЯb"},
        {R"({\rtf1\uc0 \u1071 ok})", "Яok"},
        // Surrogate pairs make one character.
        {R"({\rtf1 \u-10179?\u-8704?})", "\U0001F600"},
        // \'hh in the declared code page, the font's character set winning.
        {R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8\'e2\'e5\'f2})", "Привет"},
        {R"({\rtf1\ansi{\fonttbl{\f0\fcharset204 Arial;}}\f0 \'c4\'e0})", "Да"},
        {R"({\rtf1\ansi \'e9t\'e9})", "été"},
        {R"({\rtf1\ansi\ansicpg932 \'82\'a0})", "あ"},
        // Escapes and specials.
        {R"({\rtf1 a\{b\}c\\d\~e\emdash f\line g\tab h})", "a{b}c\\d\u00A0e\u2014f\u2028g\th"},
        // Raw line ends are no text; \par and a backslash before a line end are.
        {"{\\rtf1 one\r\ntwo\\par three\\\nfour}", "onetwo\nthree\nfour"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RtfReader::read(c.rtf).text(), c.text) << c.rtf;
}

TEST(RtfReaderText, DestinationsWeDoNotShowAreSkipped) {
    struct Case {
        std::string rtf, text;
    } cases[] = {
        {R"({\rtf1{\fonttbl{\f0 Times;}}{\colortbl;\red1\green2\blue3;}{\stylesheet{\s0 Normal;}}A})",
         "A"},
        {R"({\rtf1{\info{\title T}{\author Me}}{\header H}B{\footnote F}})", "B"},
        {R"({\rtf1{\*\unknowndest lots {\of} text}C{\*\generator x;}})", "C"},
        // Tables become tab-separated lines.
        {R"({\rtf1\trowd\cellx1000\cellx2000 a\cell b\cell\row\trowd c\cell d\cell\row})",
         "a\tb\nc\td\n"},
        // The fallback picture of a shape is not shown twice.
        {R"({\rtf1 x{\nonshppict{\pict\wmetafile8 0102}}y})", "xy"},
        // \bin data is skipped by its length, braces included.
        {"{\\rtf1 a{\\*\\blob\\bin3 }{\\}b}", "ab"},
        // Hidden text stays hidden.
        {R"({\rtf1 shown{\v hidden}\v gone\v0  again\v more\plain  end})", "shown again end"},
        // Everything after the document's own group is ignored.
        {R"({\rtf1 in}out)", "in"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RtfReader::read(c.rtf).text(), c.text) << c.rtf;
}

TEST(RtfReaderStyles, CharacterAndParagraphFormattingIsKept) {
    const AttributedText text = RtfReader::read(
        R"({\rtf1\ansi\deff0{\fonttbl{\f0\fswiss Helvetica;}{\f1\froman Times New Roman;}})"
        R"({\colortbl;\red255\green0\blue0;\red0\green128\blue255;})"
        R"(\pard\qc\li720\ri360\fi-360\sb240\sa120 {\b bold}{\i italic}{\ul under}{\strike gone})"
        R"(\par\pard\qr {\f1\fs36 big}{\cf1 red}{\cb2 marked}{\highlight2 lit}\par)"
        R"({\field{\*\fldinst HYPERLINK "https://example.org/a"}{\fldrslt link}} after})");
    EXPECT_EQ(text.text(), "bolditalicundergone\nbigredmarkedlit\nlink after");
    EXPECT_TRUE(runOf(text, "bold").style.bold);
    EXPECT_FALSE(runOf(text, "italic").style.bold);
    EXPECT_TRUE(runOf(text, "italic").style.italic);
    EXPECT_TRUE(runOf(text, "under").style.underline);
    EXPECT_TRUE(runOf(text, "gone").style.strikethrough);
    EXPECT_EQ(runOf(text, "bold").style.fontFamily, "Helvetica");
    EXPECT_EQ(runOf(text, "big").style.fontFamily, "Times New Roman");
    EXPECT_EQ(runOf(text, "big").style.fontSize, 18);
    EXPECT_EQ(runOf(text, "bold").style.fontSize, 12);
    EXPECT_EQ(runOf(text, "red").style.foreground, (Color{255, 0, 0}));
    EXPECT_EQ(runOf(text, "marked").style.background, (Color{0, 128, 255}));
    EXPECT_EQ(runOf(text, "lit").style.background, (Color{0, 128, 255}));
    EXPECT_EQ(runOf(text, "link").style.link, "https://example.org/a");
    EXPECT_EQ(runOf(text, "after").style.link, "");
    const AttributedText inside =
        RtfReader::read(R"({\rtf1{\field{\*\fldinst HYPERLINK \\l "chapter"}{\fldrslt here}}})");
    EXPECT_EQ(runOf(inside, "here").style.link, "");

    ASSERT_EQ(text.paragraphs().size(), 3u);
    const ParagraphStyle& first = text.paragraphs()[0].style;
    EXPECT_EQ(first.alignment, Alignment::center);
    EXPECT_EQ(first.leftIndent, 36);
    EXPECT_EQ(first.rightIndent, 18);
    EXPECT_EQ(first.firstLineIndent, -18);
    EXPECT_EQ(first.spaceBefore, 12);
    EXPECT_EQ(first.spaceAfter, 6);
    EXPECT_EQ(text.paragraphs()[1].style.alignment, Alignment::right);
    EXPECT_EQ(text.paragraphs()[1].style.leftIndent, 0);
}

TEST(RtfReaderPictures, PngAndJpegPicturesAreKeptOthersDropped) {
    const AttributedText text =
        RtfReader::read("{\\rtf1 a{\\*\\shppict{\\pict{\\*\\picprop{\\sp{\\sn x}{\\sv 1}}}\\pngblip"
                        "\\picwgoal1440\\pichgoal720\\picscalex50 89504e47}}b"
                        "{\\pict\\jpegblip ffd8\nffe0}c{\\pict\\emfblip 0102}d}");
    EXPECT_EQ(text.text(), "a\uFFFCb\uFFFCcd");
    ASSERT_EQ(text.images().size(), 2u);
    EXPECT_EQ(text.images()[0].type, InlineImage::Type::png);
    EXPECT_EQ(text.images()[0].bytes, "\x89PNG");
    EXPECT_EQ(text.images()[0].width, 36);
    EXPECT_EQ(text.images()[0].height, 36);
    EXPECT_EQ(text.images()[1].type, InlineImage::Type::jpeg);
    EXPECT_EQ(text.images()[1].bytes, "\xFF\xD8\xFF\xE0");
    EXPECT_EQ(runAt(text, 1).image, 0);
}

TEST(RtfReaderLimits, HostileInputIsRefusedWithItsPosition) {
    struct Case {
        std::string rtf, message;
    } cases[] = {
        {"", "Не удалось прочитать RTF: это не RTF (байт 0)"},
        {"  hello", "Не удалось прочитать RTF: это не RTF (байт 2)"},
        {"{\\rtf1" + std::string(RtfReader::maxDepth, '{'),
         "Не удалось прочитать RTF: слишком глубокая вложенность групп (байт 205)"},
    };
    for (const Case& c : cases) {
        try {
            RtfReader::read(c.rtf);
            ADD_FAILURE() << "accepted " << c.rtf.substr(0, 20);
        } catch (const ConvertError& error) {
            EXPECT_EQ(error.errorDescription(), c.message);
        }
    }
    // Nesting just under the limit, truncation and numbers out of range are fine.
    EXPECT_EQ(RtfReader::read("{\\rtf1" + std::string(RtfReader::maxDepth - 1, '{') + "x").text(),
              "x");
    EXPECT_EQ(RtfReader::read("{\\rtf1\\fs99999999999999 a\\u99999999999 \\'").text(), "a\uFFFF");
}

TEST(RtfRoundTrip, WrittenDocumentsReadBackTheSame) {
    AttributedText text;
    CharacterStyle bold;
    bold.bold = true;
    bold.fontFamily = "DejaVu Serif";
    bold.fontSize = 15.5;
    CharacterStyle colored;
    colored.italic = true;
    colored.underline = true;
    colored.strikethrough = true;
    colored.foreground = Color{10, 20, 30};
    colored.background = Color{250, 240, 230};
    CharacterStyle link;
    link.link = "https://example.org/?q=1&r=ю";
    ParagraphStyle centered;
    centered.alignment = Alignment::center;
    centered.leftIndent = 10;
    centered.firstLineIndent = -5;
    centered.spaceAfter = 4;
    text.append("Жирный {текст}\\ ", bold);
    text.append("цветной\tтекст\u2028строка 😀", colored);
    text.setParagraphStyle(centered);
    text.append("\n");
    text.append("ссылка", link);
    text.appendImage({InlineImage::Type::png, std::string("\x89PNG\0\1", 6), 20, 10});
    text.append("\n日本語");

    const std::string rtf = RtfWriter::write(text);
    for (const char c : rtf)
        ASSERT_LT(static_cast<unsigned char>(c), 0x80) << "the RTF is ASCII";
    const AttributedText back = RtfReader::read(rtf);
    EXPECT_EQ(back.text(), text.text());
    EXPECT_EQ(runOf(back, "Жирный").style.fontFamily, "DejaVu Serif");
    EXPECT_EQ(runOf(back, "Жирный").style.fontSize, 15.5);
    EXPECT_TRUE(runOf(back, "Жирный").style.bold);
    const CharacterStyle& again = runOf(back, "цветной").style;
    EXPECT_TRUE(again.italic && again.underline && again.strikethrough);
    EXPECT_EQ(again.foreground, colored.foreground);
    EXPECT_EQ(again.background, colored.background);
    EXPECT_EQ(runOf(back, "ссылка").style.link, link.link);
    EXPECT_EQ(back.paragraphs()[0].style, centered);
    EXPECT_EQ(back.paragraphs()[1].style, centered);
    ASSERT_EQ(back.images().size(), 1u);
    EXPECT_EQ(back.images()[0].bytes, text.images()[0].bytes);
    EXPECT_EQ(back.images()[0].width, 20);
}

TEST(RtfReaderPackage, ReadsTheDocumentOfAPackageAndRefusesOddFiles) {
    test::ScratchDir dir;
    std::filesystem::create_directory(dir / "good.rtfd");
    test::writeFile(dir / "good.rtfd" / "TXT.rtf", R"({\rtf1 inside})");
    EXPECT_EQ(RtfReader::readPackage(dir / "good.rtfd").text(), "inside");

    std::filesystem::create_directory(dir / "link.rtfd");
    std::filesystem::create_symlink(dir / "good.rtfd" / "TXT.rtf", dir / "link.rtfd" / "TXT.rtf");
    std::filesystem::create_directories(dir / "folder.rtfd" / "TXT.rtf");
    std::filesystem::create_directory(dir / "empty.rtfd");
    for (const char* name : {"link.rtfd", "folder.rtfd", "empty.rtfd"})
        EXPECT_THROW(RtfReader::readPackage(dir / name), SystemError) << name;
}

} // namespace
} // namespace lumatra
