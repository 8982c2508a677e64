// The text converter's own parts: its command line, text decoding, web pages' charset
// declarations, damaged sources and engine settings.
#include "file_fields.h"
#include "office.h"
#include "request.h"
#include "source_preparer.h"
#include "tool_error.h"

#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace lumatra::textutil {
namespace {

using ::testing::HasSubstr;

std::string failureOf(const std::vector<std::string>& arguments) {
    try {
        parseArguments(arguments);
    } catch (const ToolError& error) {
        return error.what();
    }
    return "(parsed)";
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
        EXPECT_EQ(failureOf(bad), usage);
    EXPECT_EQ(failureOf({"s", "-convert", "png", "-output", "o"}),
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

    const auto failure = [](const std::string& bytes, const std::string& encoding) {
        try {
            decodeText(bytes, encoding);
        } catch (const ToolError& error) {
            return std::string(error.what());
        }
        return std::string("(decoded)");
    };
    EXPECT_EQ(failure("x", "no-such-charset"), "Неизвестная кодировка: no-such-charset");
    EXPECT_EQ(failure(privet1251, "UTF-8"), "Текст не в кодировке UTF-8");
}

TEST(TextutilPages, CharsetDeclarationsAreFoundAndReplaced) {
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
}

TEST(TextutilPages, LibreOfficesEmptyDatesAreDropped) {
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
    for (const auto& c : cases) {
        std::string problem;
        try {
            checkOfficeSignature(c.bytes, c.extension, "/x." + c.extension);
        } catch (const ToolError& error) {
            problem = error.what();
        }
        EXPECT_EQ(problem, c.problem.empty() ? "" : "Файл «/x." + c.extension + "»" + c.problem)
            << c.extension << ": " << c.bytes;
    }
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
    EXPECT_EQ(merged.substr(merged.size() - 13), "</oor:items>\n");
    EXPECT_EQ(merged.find("</oor:items>"), merged.size() - 13);
    for (const auto& item : wanted)
        EXPECT_NE(merged.find(item), std::string::npos) << item;
}

} // namespace
} // namespace lumatra::textutil
