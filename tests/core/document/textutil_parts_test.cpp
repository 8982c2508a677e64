// The text converter's own parts: its command line, text decoding, what web pages lose
// before the engine sees them, their charset declarations and pictures, damaged sources,
// engine settings, and the edits of the flat ODF and the rich text it writes.
#include "active_content.h"
#include "file_fields.h"
#include "flat_document.h"
#include "office.h"
#include "output_writer.h"
#include "page_pictures.h"
#include "request.h"
#include "source_preparer.h"
#include "tool_error.h"

#include "data/plist_bridge.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

namespace lumatra::textutil {
namespace {

using ::testing::HasSubstr;

// The tool's error line `call` ends with; empty when it ends well.
std::string errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ToolError& error) {
        return error.what();
    }
    return {};
}

TEST(TextutilArguments, AcceptExactlyTheConverterCommandLine) {
    const auto request = parseArguments(
        {"/a b/src.txt", "-convert", "rtfd", "-output", "/out/x.rtfd", "-inputencoding", "UTF-8"});
    EXPECT_EQ(request.source, "/a b/src.txt");
    EXPECT_EQ(request.format, OutputFormat::rtfd);
    EXPECT_EQ(request.output, "/out/x.rtfd");
    EXPECT_EQ(request.inputEncoding, "UTF-8");
    EXPECT_EQ(request.timeLimit, std::chrono::minutes(3));
    EXPECT_EQ(parseArguments({"-convert", "odt", "-output", "o", "s"}).source, "s");
    EXPECT_EQ(
        parseArguments({"s", "-convert", "txt", "-output", "o", "-timelimit", "0.25"}).timeLimit,
        std::chrono::milliseconds(250));

    const std::string usage =
        "Использование: lumatra-textutil ФАЙЛ -convert "
        "txt|html|rtf|rtfd|docx|odt|pdf -output ФАЙЛ [-inputencoding КОДИРОВКА] "
        "[-timelimit СЕКУНДЫ]";
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {},
             {"s"},
             {"s", "-convert", "txt"},
             {"s", "-convert", "txt", "-output"},
             {"s", "t", "-convert", "txt", "-output", "o"},
             {"s", "-convert", "txt", "-output", "o", "-verbose"},
             {"s", "-convert", "txt", "-output", "o", "-timelimit", "0"},
             {"s", "-convert", "txt", "-output", "o", "-timelimit", "-1"},
             {"s", "-convert", "txt", "-output", "o", "-timelimit", "5s"},
         })
        EXPECT_EQ(errorOf([&] { parseArguments(bad); }), usage);
    EXPECT_EQ(errorOf([] {
                  parseArguments({"s", "-convert", "png", "-output", "o"});
              }),
              "Неизвестный формат: png. " + usage);
}

TEST(TextutilDecoding, FindsTheEncodingOrTakesTheGivenOne) {
    const std::string privet1251 = "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0";
    struct Case {
        std::string bytes;
        std::optional<std::string> given;
        std::optional<std::string> declared;
        std::string expected;
    } cases[] = {
        {"Привет", std::nullopt, std::nullopt, "Привет"},
        {"\xEF\xBB\xBFПривет", std::nullopt, std::nullopt, "Привет"},
        {"\xEF\xBB\xBFПривет", "UTF-8", std::nullopt, "Привет"},
        {privet1251, std::nullopt, std::nullopt, "Привет, мир"},
        {privet1251, "windows-1251", std::nullopt, "Привет, мир"},
        {"\xEF\xF0\xE8\xE2\xE5\xF2", std::nullopt, "windows-1251", "привет"},
        {"\xD0\xD2\xC9\xD7\xC5\xD4", "KOI8-R", std::nullopt, "привет"},
        {std::string("\xFF\xFE\x1F\x04\x40\x04", 6), std::nullopt, std::nullopt, "Пр"},
        {"caf\xE9", std::nullopt, "iso-8859-1", "café"},
        {"plain ascii", std::nullopt, std::nullopt, "plain ascii"},
        {"", std::nullopt, std::nullopt, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decodeText(c.bytes, c.given, c.declared), c.expected) << c.bytes;

    EXPECT_EQ(errorOf([] { decodeText("x", "no-such-charset"); }),
              "Неизвестная кодировка: no-such-charset");
    EXPECT_EQ(errorOf([&] { decodeText(privet1251, "UTF-8"); }), "Текст не в кодировке UTF-8");
}

TEST(TextutilPages, CharsetDeclarationsAreFoundAndReplacedAndEmptyDatesDropped) {
    const std::string page =
        "<HTML><HEAD><META http-equiv=\"Content-Type\" content=\"text/html; "
        "CHARSET=windows-1251\"><meta charset='koi8-r'><title>charset=x</title></HEAD>";
    EXPECT_EQ(declaredCharset(page), "windows-1251");
    EXPECT_EQ(declareUtf8(page),
              "<HTML><HEAD><META http-equiv=\"Content-Type\" content=\"text/html; "
              "CHARSET=utf-8\"><meta charset='utf-8'><title>charset=x</title></HEAD>");
    EXPECT_EQ(declaredCharset("<p>charset=cp1251</p>"), std::nullopt);
    EXPECT_EQ(declaredCharset("<meta charset"), std::nullopt);
    EXPECT_EQ(declareUtf8("<meta name=x>"), "<meta name=x>");
    // LibreOffice's empty dates are dropped.
    EXPECT_EQ(withoutEmptyDates("<head>\n\t<meta name=\"created\" content=\"00:00:00\"/>\n\t"
                                "<meta name=\"changed\" content=\"00:00:00\"/>\n</head>"),
              "<head>\n</head>");
    // Removing one may join the pieces of a tag around it; declarations are looked
    // for afterwards.
    EXPECT_EQ(declareUtf8(withoutEmptyDates(
                  "<meta<meta name=\"changed\" content=\"00:00:00\"/> charset=\"koi8-r\">")),
              "<meta charset=\"utf-8\">");
    const std::string dated = "<meta name=\"created\" content=\"2024-01-01T10:00:00\"/>";
    EXPECT_EQ(withoutEmptyDates(dated), dated);
}

TEST(ActiveContent, PagesLoseWhatMakesThemActAndKeepTheirText) {
    const std::pair<std::string, std::string> cases[] = {
        {R"(<meta http-equiv="refresh" content="0;url=http://127.0.0.1:8765/r"><p>Текст</p>)",
         "<p>Текст</p>"},
        {"<META HTTP-EQUIV=Refresh CONTENT='5'><title>t</title>", "<title>t</title>"},
        {R"(<meta content="0; url=x" http-equiv="REFRESH" />a)", "a"},
        {R"(<meta charset="utf-8"><b>x</b>)", R"(<meta charset="utf-8"><b>x</b>)"},
        {"<script>location='http://x/'; if (a<b) {}</script>после", "после"},
        {"<SCRIPT src=x.js></SCRIPT >a</script>b", "ab"},
        {"<script>for(;;){}", ""},
        {R"(<frameset><frame src="b.html"><noframes>Запасной</noframes></frameset>)",
         "<noframes>Запасной</noframes>"},
        {R"(<iframe src="a.html">вместо</iframe><object data=x><embed src=y></object>)", "вместо"},
        {R"(<base href="http://x/"><a href="p">ссылка</a>)", R"(<a href="p">ссылка</a>)"},
        // Quoted values may hold '>' and the names of the tags dropped.
        {R"(<p title="a > b <script>">x</p>)", R"(<p title="a > b <script>">x</p>)"},
        {"<!DOCTYPE html><!-- <meta http-equiv=refresh> -->текст",
         "<!DOCTYPE html><!-- &lt;meta http-equiv=refresh> -->текст"},
        // Text that only looks like markup stays text, and removals never make a tag.
        {"a < b, it's 1<2", "a &lt; b, it's 1&lt;2"},
        {"<<iframe>meta http-equiv=refresh content=0>", "&lt;meta http-equiv=refresh content=0>"},
        {R"(<p class="x>y)", "&lt;p class=\"x>y"},
        {R"(x<img src="a.png" alt="<meta http-equiv=refresh content=0>)",
         "x&lt;img src=\"a.png\" alt=\"&lt;meta http-equiv=refresh content=0>"},
    };
    for (const auto& [page, expected] : cases)
        EXPECT_EQ(withoutActiveContent(page), expected) << page;
}

TEST(FlatDocument, EveryPageLayoutBecomesUprightA4WithOurMargins) {
    const std::string a4 =
        "fo:page-width=\"595.28pt\" fo:page-height=\"841.89pt\" "
        "style:print-orientation=\"portrait\" fo:margin-top=\"56pt\" "
        "fo:margin-bottom=\"56pt\" fo:margin-left=\"56pt\" fo:margin-right=\"56pt\"";
    const std::pair<std::string, std::string> cases[] = {
        {"<a><style:page-layout-properties fo:page-width=\"8.5in\" fo:page-height=\"11in\" "
         "style:print-orientation=\"landscape\" fo:margin-top=\"1in\" fo:margin=\"2cm\" "
         "style:writing-mode=\"lr-tb\"><style:columns/></style:page-layout-properties>",
         "<a><style:page-layout-properties style:writing-mode=\"lr-tb\" " + a4 +
             "><style:columns/></style:page-layout-properties>"},
        {"<style:page-layout-properties/><b/>", "<style:page-layout-properties " + a4 + "/><b/>"},
        {"<style:page-layout-propertiesX a=\"1\"/>", "<style:page-layout-propertiesX a=\"1\"/>"},
    };
    for (const auto& [xml, wanted] : cases)
        EXPECT_EQ(withA4Pages(xml), wanted) << xml;
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
        EXPECT_EQ(withoutAnnotations(c.xml), c.wanted) << c.xml;
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
        EXPECT_EQ(withUnicodeBullets("<a>" + level(c.bullet, c.font) + "</a>"),
                  "<a>" + level(c.wanted, "") + "</a>")
            << c.bullet;
    // Bullets that are Unicode already, and their fonts, stay.
    const std::string plain = level("\u2022", " style:font-name=\"OpenSymbol\"") +
                              level("o", " style:font-name=\"Courier New\"");
    EXPECT_EQ(withUnicodeBullets(plain), plain);
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
        EXPECT_EQ(withoutPictureFallbacks(c.rtf), c.wanted) << c.rtf;
}

TEST(TextutilSources, DamagedDocumentsAreNamedWithWhatIsWrong) {
    const std::string end("PK\x05\x06", 4);
    const std::string head("PK\x03\x04", 4);
    const std::string docx = head + "word/document.xml" + end + std::string(18, '\0');
    const std::string odt = head + "mimetype content.xml" + end + std::string(18, '\0');
    const std::string compound = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1rest";
    struct Case {
        std::string bytes;
        std::string extension;
        std::string problem; // empty: the bytes fit
    } cases[] = {
        {docx, "docx", ""},
        {odt, "odt", ""},
        {"", "docx", " пуст: в нём нет документа DOCX"},
        {"text", "docx", " повреждён или не является документом DOCX: это не ZIP-архив"},
        {docx.substr(0, 20), "docx", " повреждён: документ DOCX обрезан"},
        {odt, "docx", " не является документом DOCX: в архиве нет текста документа"},
        {docx, "odt", " не является документом ODT: в архиве нет текста документа"},
        {"{\\rtf1 x}", "rtf", ""},
        {"\xEF\xBB\xBF\n {\\rtf1", "rtf", ""},
        {docx, "rtf", " повреждён или не является документом RTF"},
        {"", "rtf", " пуст: в нём нет документа RTF"},
        {compound, "doc", ""},
        {"{\\rtf1", "doc", ""},
        {"<html>", "doc", " повреждён или не является документом DOC"},
        {"<?xml version=\"1.0\"?><office:document>", "fodt", ""},
        {"plain", "fodt", " повреждён или не является документом FODT"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorOf([&] { checkOfficeSignature(c.bytes, c.extension, "/x." + c.extension); }),
                  c.problem.empty() ? "" : "Файл «/x." + c.extension + "»" + c.problem)
            << c.extension << ": " << c.bytes;
}

TEST(TextutilSources, RichTextFieldsThatNameAnotherFileLoseTheirInstruction) {
    const std::string emptied = R"({\field{\*\fldinst }{\fldrslt x}})";
    const std::pair<std::string, std::string> cases[] = {
        {R"({\field{\*\fldinst INCLUDEPICTURE "/s.png" \\d}{\fldrslt x}})", emptied},
        // As Word writes it: formatting first, lower case is the same field.
        {R"({\field{\*\fldinst {\rtlch\fcs1 \af0  includepicture  "C:\\s.png" }}{\fldrslt x}})",
         emptied},
        {R"({\field{\*\fldinst INCLUDETEXT "/etc/passwd"}{\fldrslt x}})", emptied},
        // Letters hidden behind escapes, groups and formatting.
        {R"({\field{\*\fldinst \'49NCLUDEPICTURE "/s.png"}{\fldrslt x}})", emptied},
        {R"({\field{\*\fldinst \u73?NCLUDEPICTURE "/s.png"}{\fldrslt x}})", emptied},
        {R"({\field{\*\fldinst IN{}CLU{\b DE}PICTURE "/s.png"}{\fldrslt x}})", emptied},
        {R"({\field{\*\fldinst LINKX "/s.png"}{\fldrslt x}})", emptied},
        // A field inside another's instruction.
        {R"({\field{\*\fldinst IF 1 = 1 "{\field{\*\fldinst INCLUDEPICTURE "/s.png"}}"}{\fldrslt x}})",
         emptied},
        // Raw bytes of a picture may hold braces.
        {R"({\pict\bin4 {}{}{\field{\*\fldinst INCLUDEPICTURE "/s"}{\fldrslt x}}})",
         R"({\pict\bin4 {}{}{\field{\*\fldinst }{\fldrslt x}}})"},
        {R"({\field{\*\fldinst INCLUDEPICTURE "/s.png")", R"({\field{\*\fldinst )"},
        // Fields that read nothing, and the words in the text, stay as they are.
        {R"({\field{\*\fldinst HYPERLINK "http://x.org/import/link"}{\fldrslt site}})",
         R"({\field{\*\fldinst HYPERLINK "http://x.org/import/link"}{\fldrslt site}})"},
        {R"({\rtf1 INCLUDEPICTURE {\field{\*\fldinst PAGE}{\fldrslt 1}}})",
         R"({\rtf1 INCLUDEPICTURE {\field{\*\fldinst PAGE}{\fldrslt 1}}})"},
    };
    for (const auto& [rtf, expected] : cases)
        EXPECT_EQ(withoutFileFields(rtf), expected) << rtf;
}

TEST(TextutilEngineSettings, MacrosLocksAndNetworkAreOffInEveryProfile) {
    test::ScratchDir dir;
    const auto file = dir / "profile" / "user" / "registrymodifications.xcu";
    const std::string wanted[] = {"\"DisableMacrosExecution\" oor:op=\"fuse\"><value>true",
                                  "\"MacroSecurityLevel\" oor:op=\"fuse\"><value>3",
                                  "\"BlockUntrustedRefererLinks\" oor:op=\"fuse\"><value>true",
                                  "\"UseLocking\" oor:op=\"fuse\"><value>false",
                                  "\"ooInetProxyType\" oor:op=\"fuse\"><value>2",
                                  "\"ooInetHTTPProxyName\" oor:op=\"fuse\"><value>127.0.0.1",
                                  "\"ooInetHTTPSProxyPort\" oor:op=\"fuse\"><value>9"};
    // A fresh profile gets them; a copied one keeps its own items, ours after them.
    Office::writeSettings(dir / "profile");
    for (const auto& item : wanted)
        EXPECT_NE(test::readFile(file).find(item), std::string::npos) << item;
    test::writeFile(file, "<?xml version=\"1.0\"?>\n<oor:items xmlns:oor=\"x\">\n<item "
                          "oor:path=\"/org.openoffice.Setup/Office\"><prop oor:name=\"Own\" "
                          "oor:op=\"fuse\"><value>1</value></prop></item>\n</oor:items>");
    Office::writeSettings(dir / "profile");
    const std::string merged = test::readFile(file);
    EXPECT_LT(merged.find("\"Own\""), merged.find("DisableMacrosExecution"));
    EXPECT_EQ(merged.find("</oor:items>"), merged.size() - 13);
    for (const auto& item : wanted)
        EXPECT_NE(merged.find(item), std::string::npos) << item;
}

const std::string png("\x89PNG\r\n\x1A\nrest", 12);

TEST(PagePictures, ImgSourcesTheSourceKnowsBecomeDataAddresses) {
    const PictureSource source = [](std::string_view address) -> std::optional<std::string> {
        if (address == "a.png" || address == "b c.png") return png;
        if (address == "text.png") return std::string("not a picture");
        return std::nullopt;
    };
    const std::string data = "data:image/png;base64," + Plist::base64(png);
    struct Case {
        std::string html;
        std::string expected;
    } cases[] = {
        {"<img src=\"a.png\">", "<img src=\"" + data + "\">"},
        {"<IMG alt='x' SRC = 'a.png' width=2>", "<IMG alt='x' SRC = '" + data + "' width=2>"},
        {"<img src=a.png>", "<img src=" + data + ">"},
        {"<img alt=\"src=a.png\" src=\"b c.png\">", "<img alt=\"src=a.png\" src=\"" + data + "\">"},
        {"<img src=\"text.png\"><img src=\"http://x/a.png\">",
         "<img src=\"text.png\"><img src=\"http://x/a.png\">"},
        {"<imgx src=\"a.png\"><p>src=\"a.png\"</p>", "<imgx src=\"a.png\"><p>src=\"a.png\"</p>"},
        {"<img src=\"a.png\"", "<img src=\"a.png\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(inlinePictures(c.html, source), c.expected) << c.html;
}

TEST(PagePictures, OnlyPicturesInsideThePagesFolder) {
    test::ScratchDir dir;
    std::filesystem::create_directories(dir / "page" / "img");
    test::writeFile(dir / "page" / "img" / "a b.png", png);
    test::writeFile(dir / "page" / "notes.txt", "secret");
    test::writeFile(dir / "outside.png", png);
    const auto source = folderPictures(dir / "page");
    EXPECT_EQ(source("img/a%20b.png"), png);
    EXPECT_EQ(source("img/a b.png?v=2"), png);
    for (const std::string& refused : std::vector<std::string>{
             "notes.txt", "../outside.png", "img/../../outside.png", (dir / "outside.png").string(),
             "file://" + (dir / "outside.png").string(), "missing.png", "img", ""})
        EXPECT_EQ(source(refused), std::nullopt) << refused;
}

TEST(PagePictures, PictureKindsAndAddresses) {
    EXPECT_EQ(pictureType(png), "image/png");
    EXPECT_EQ(pictureType("\xFF\xD8\xFF\xE0"), "image/jpeg");
    EXPECT_EQ(pictureType("GIF89a..."), "image/gif");
    EXPECT_EQ(pictureType("RIFF....WEBPVP8 "), "image/webp");
    EXPECT_EQ(pictureType("  <svg xmlns='http://www.w3.org/2000/svg'/>"), "image/svg+xml");
    EXPECT_EQ(pictureType("<html>"), std::nullopt);

    const std::string page = "https://x.org/docs/p.html?q=1";
    EXPECT_EQ(resolveAddress(page, "img/a.png"), "https://x.org/docs/img/a.png");
    EXPECT_EQ(resolveAddress(page, "/a.png"), "https://x.org/a.png");
    EXPECT_EQ(resolveAddress(page, "//cdn.org/a.png"), "https://cdn.org/a.png");
    EXPECT_EQ(resolveAddress(page, "http://y.org/a.png"), "http://y.org/a.png");
    EXPECT_EQ(resolveAddress("https://x.org", "a.png"), "https://x.org/a.png");
    EXPECT_EQ(resolveAddress("", "a.png"), "a.png");
}

TEST(PagePictures, WebArchivesGiveTheirPageInUtf8AndTheirPictures) {
    const auto archive = [](const std::string& main, const std::string& rest = {}) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
               "<key>WebMainResource</key><dict>" +
               main + "</dict>" + rest + "</dict></plist>";
    };
    const auto read = readWebArchive(
        archive("<key>WebResourceData</key><data>" + Plist::base64("<img src=\"pic.png\">") +
                    "</data><key>WebResourceURL</key><string>https://x.org/a/</string>",
                "<key>WebSubresources</key><array><dict><key>WebResourceURL</key>"
                "<string>https://x.org/a/pic.png</string><key>WebResourceData</key><data>" +
                    Plist::base64(png) +
                    "</data></dict><dict><key>WebResourceURL</key><string>broken</string>"
                    "</dict></array>"));
    EXPECT_EQ(read.page, "<img src=\"pic.png\">");
    EXPECT_EQ(read.address, "https://x.org/a/");
    ASSERT_EQ(read.pictures.size(), 1u);
    EXPECT_EQ(read.pictures[0].first, "https://x.org/a/pic.png");
    EXPECT_EQ(read.pictures[0].second, png);
    // The page in its declared encoding ("<p>Привет</p>" in Windows-1251) becomes UTF-8.
    EXPECT_EQ(readWebArchive(archive("<key>WebResourceData</key><data>PHA+z/Do4uXyPC9wPg==</data>"
                                     "<key>WebResourceTextEncodingName</key>"
                                     "<string>windows-1251</string>"))
                  .page,
              "<p>Привет</p>");
    for (const std::string& broken : {std::string("not a property list"), archive(""),
                                      archive("<key>WebResourceData</key><string>x</string>"),
                                      std::string("<plist><array/></plist>")})
        EXPECT_EQ(errorOf([&] { readWebArchive(broken); }), "в веб-архиве нет главной страницы")
            << broken;
}

} // namespace
} // namespace lumatra::textutil
