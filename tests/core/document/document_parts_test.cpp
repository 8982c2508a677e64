// The small text edits of the document pipeline: page geometry and comments of flat
// ODF, picture fallbacks of rich text, the tool's failure lines, Markdown pictures.
#include "document/document_converter.h"
#include "document/markdown_pictures.h"
#include "flat_document.h"
#include "output_writer.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

namespace lumatra {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(FlatDocument, EveryPageLayoutBecomesUprightA4WithOurMargins) {
    const std::string xml =
        "<office:automatic-styles><style:page-layout style:name=\"pm1\">"
        "<style:page-layout-properties fo:page-width=\"8.5in\" fo:page-height=\"11in\" "
        "style:print-orientation=\"landscape\" fo:margin-top=\"1in\" fo:margin=\"2cm\" "
        "style:writing-mode=\"lr-tb\">"
        "<style:columns fo:column-count=\"1\"/></style:page-layout-properties>"
        "</style:page-layout><style:page-layout style:name=\"pm2\">"
        "<style:page-layout-properties/></style:page-layout>"
        "<style:page-layout-propertiesX a=\"1\"/></office:automatic-styles>";
    const std::string geometry =
        "fo:page-width=\"595.28pt\" fo:page-height=\"841.89pt\" "
        "style:print-orientation=\"portrait\" "
        "fo:margin-top=\"56pt\" fo:margin-bottom=\"56pt\" fo:margin-left=\"56pt\" "
        "fo:margin-right=\"56pt\"";
    EXPECT_EQ(textutil::withA4Pages(xml),
              "<office:automatic-styles><style:page-layout style:name=\"pm1\">"
              "<style:page-layout-properties style:writing-mode=\"lr-tb\" " +
                  geometry +
                  ">"
                  "<style:columns fo:column-count=\"1\"/></style:page-layout-properties>"
                  "</style:page-layout><style:page-layout style:name=\"pm2\">"
                  "<style:page-layout-properties " +
                  geometry +
                  "/></style:page-layout>"
                  "<style:page-layout-propertiesX a=\"1\"/></office:automatic-styles>");
}

TEST(FlatDocument, CommentsAndTheirRangesGoTheTextStays) {
    struct Case {
        std::string xml;
        std::string wanted;
    } cases[] = {
        {"<text:p>a<office:annotation office:name=\"x\"><dc:creator>I</dc:creator><text:p>note"
         "</text:p></office:annotation>b<office:annotation-end office:name=\"x\"/>c</text:p>",
         "<text:p>abc</text:p>"},
        {"<text:p>a<office:annotation/>b</text:p>", "<text:p>ab</text:p>"},
        {"<text:p>no comments</text:p>", "<text:p>no comments</text:p>"},
        {"<text:p>cut<office:annotation><text:p>", "<text:p>cut"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(textutil::withoutAnnotations(c.xml), c.wanted) << c.xml;
}

TEST(FlatDocument, SymbolFontBulletsBecomeUnicodeInTheTextsFont) {
    const auto level = [](const std::string& bullet, const std::string& font) {
        return "<text:list-level-style-bullet text:level=\"1\" text:bullet-char=\"" + bullet +
               "\"><style:list-level-properties/><style:text-properties" + font +
               "/></text:list-level-style-bullet>";
    };
    struct Case {
        std::string bullet;
        std::string font;
        std::string wanted; // the character left, and the font
    } cases[] = {
        {"\xEF\x82\xB7", " style:font-name=\"Symbol\"", "\u2022"},
        {"&#xF0B7;", " style:font-name=\"Symbol\"", "\u2022"},
        {"\xEF\x82\xA7", " style:font-name=\"Wingdings\"", "\u25AA"},
        {"\xEF\x83\x98", " style:font-name=\"Wingdings\" fo:font-family=\"Wingdings\"", "\u27A2"},
        {"\xEF\x80\xAA", " style:font-name=\"Odd\"", "\u2022"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(textutil::withUnicodeBullets("<a>" + level(c.bullet, c.font) + "</a>"),
                  "<a>" + level(c.wanted, "") + "</a>")
            << c.bullet;
    // Bullets that are Unicode already, and their fonts, stay.
    const std::string plain = level("\u2022", " style:font-name=\"OpenSymbol\"") +
                              level("o", " style:font-name=\"Courier New\"");
    EXPECT_EQ(textutil::withUnicodeBullets(plain), plain);
}

TEST(RichTextOutput, PicturesStayAsTheirOwnBytesWithoutFallbacks) {
    struct Case {
        std::string rtf;
        std::string wanted;
    } cases[] = {
        {"{\\rtf1 a{\\*\\shppict{\\pict\\pngblip 89504e}}{\\nonshppict{\\pict\\wmetafile8 "
         "0100{\\*\\x}}}b}",
         "{\\rtf1 a{\\*\\shppict{\\pict\\pngblip 89504e}}b}"},
        {"{\\rtf1 {\\nonshppictx keep}\\}{\\nonshppict \\{ \\} }z}",
         "{\\rtf1 {\\nonshppictx keep}\\}z}"},
        {"{\\rtf1 {\\nonshppict{\\pict unbalanced", "{\\rtf1 {\\nonshppict{\\pict unbalanced"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(textutil::withoutPictureFallbacks(c.rtf), c.wanted) << c.rtf;
}

TEST(MarkdownPictures, HeadersTellThePixelCount) {
    const std::string jpeg = std::string("\xFF\xD8\xFF\xE0\0\x04"
                                         "ab"
                                         "\xFF\xC0\0\x11\x08\0\x30\0\x40",
                                         17);
    const std::string gif = std::string("GIF89a\x05\0\x07\0", 10);
    const std::string bmp =
        std::string("BM", 2) + std::string(16, '\0') + std::string("\x04\0\0\0\xFD\xFF\xFF\xFF", 8);
    const std::string webp = std::string("RIFF\0\0\0\0WEBPVP8X", 16) + std::string(8, '\0') +
                             std::string("\x09\0\0\x13\0\0", 6);
    EXPECT_EQ(MarkdownPictures::pictureArea(jpeg), 0x30u * 0x40u);
    EXPECT_EQ(MarkdownPictures::pictureArea(gif), 35u);
    EXPECT_EQ(MarkdownPictures::pictureArea(bmp), 12u);
    EXPECT_EQ(MarkdownPictures::pictureArea(webp), 200u);
    EXPECT_EQ(MarkdownPictures::pictureArea(jpeg.substr(0, 8)), std::nullopt);
    EXPECT_EQ(MarkdownPictures::pictureArea("plain text"), std::nullopt);
}

TEST(MarkdownPictures, OnlyPicturesInsideTheDocumentsFolderAreRead) {
    test::ScratchDir outside;
    test::ScratchDir dir;
    // A PNG header claiming 2 × 3 pixels.
    const std::string png = std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\0\x02\0\0\0\x03", 24);
    const std::string bomb =
        std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\x7F\xFF\0\0\x7F\xFF", 24);
    test::writeFile(dir / "bomb.png", bomb);
    std::filesystem::create_directories(dir / "img" / "deep");
    test::writeFile(dir / "a.png", png);
    test::writeFile(dir / "img" / "deep" / "b c.png", png);
    test::writeFile(dir / "notes.txt", "not a picture");
    test::writeFile(outside / "secret.png", png);
    ::symlink((outside / "secret.png").c_str(), (dir / "link.png").c_str());
    ::symlink(outside.path().c_str(), (dir / "linked").c_str());
    test::writeFile(dir / "big.png", png + std::string(MarkdownPictures::maxPictureBytes, 'x'));
    const std::string up = "../" + outside.path().filename().string() + "/secret.png";
    struct Case {
        std::string address;
        bool read;
    } cases[] = {
        {"a.png", true},
        {"./img/deep/b%20c.png", true},
        {"img/../a.png", true},
        {"a.png?size=2#top", true},
        {up, false},
        {"img/../../x.png", false},
        {(outside / "secret.png").string(), false},
        {"link.png", false},
        {"linked/secret.png", false},
        {"notes.txt", false},
        {"missing.png", false},
        {"big.png", false},
        {"bomb.png", false},
        {"http://192.0.2.1/a.png", false},
        {"file:a.png", false},
        {"img", false},
        {"", false},
    };
    for (const auto& c : cases) {
        const auto bytes = MarkdownPictures::readPicture(c.address, dir.path());
        EXPECT_EQ(bytes.has_value(), c.read) << c.address;
        if (bytes) {
            EXPECT_EQ(*bytes, png) << c.address;
        }
    }
    const std::string page = MarkdownPictures::embed(
        "<p><img alt=\"Logo\" src=\"a.png\"> and <img alt=\"Far &amp; away\" src=\"" + up +
            "\"><img src='http://192.0.2.1/x.png'></p>",
        dir.path());
    EXPECT_THAT(
        page,
        HasSubstr(
            "<img alt=\"Logo\" src=\"data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAIAAAAD\">"));
    EXPECT_THAT(page, HasSubstr("> and Far &amp; away</p>"));
    EXPECT_THAT(page, Not(HasSubstr("192.0.2.1")));
    // A web page keeps the local address of a picture it does not carry, written so that a
    // browser reads it as it was checked; never an address that names a host or a scheme.
    for (const auto& [address, kept] : std::vector<std::pair<std::string, std::string>>{
             {up, up},
             {"/abs/x.png", "/abs/x.png"},
             {"&#47&#47h/x.png", "&amp;#47&amp;#47h/x.png"},
             {"&#47;&#47;h/x.png", ""},
             {"/\\h/x.png", ""},
             {"\\\\h\\x.png", ""},
             {"http://h/x.png", ""},
             {" java\tscript:x", ""},
             {"", ""}}) {
        EXPECT_EQ(MarkdownPictures::embed("<img alt=\"d\" src=\"" + address + "\">", dir.path(),
                                          MarkdownPictures::Unembedded::localAddressKept),
                  kept.empty() ? "d" : "<img alt=\"d\" src=\"" + kept + "\">")
            << address;
    }
}

} // namespace
} // namespace lumatra
