// Documents of every shape (a table with spans and borders, a footnote, a header and a
// footer with the page number, Symbol-font bullets, a nested list, a picture; Cyrillic,
// CJK and Arabic text) through every target, read back with readers that are not
// LibreOffice: poppler's tools for PDF, the packages' own XML, a plain RTF reading.
#include "core/document/document_support.h"
#include "core/pdf/pdf_samples.h"
#include "data/plist_bridge.h"
#include "document/document_converter.h"
#include "formats/convert_error.h"

#include <glib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace lumatra {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// The body's words, in order; every target must keep them.
const std::vector<std::string> bodyWords = {
    "Отчёт",  "о",           "поездке",   "Съешь",     "же",      "ещё",          "этих",
    "мягких", "французских", "булок",     "Quarterly", "numbers", "北京",         "欢迎",
    "你们",   "مرحبا",       "Имя",       "Город",     "Возраст", "Объединённая", "ячейка",
    "30",     "Анна",        "Москва",    "25",        "Борис",   "Казань",       "41",
    "Первый", "пункт",       "Вложенный", "номер",     "Второй",  "пункт",        "Конец",
    "первой", "страницы",    "Вторая",    "страница",  "текста"};

// A flat ODF text document holding every shape. `extra` goes into the first paragraph
// (a comment).
std::string shapesDocument(const std::string& png, const std::string& extra = {}) {
    const auto cell = [](const std::string& text, const std::string& more = {}) {
        return "<table:table-cell table:style-name=\"C\"" + more + "><text:p>" + text +
               "</text:p></table:table-cell>";
    };
    std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:meta="urn:oasis:names:tc:opendocument:xmlns:meta:1.0" xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" xmlns:dc="http://purl.org/dc/elements/1.1/" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:meta><dc:title>Секретный заголовок</dc:title><meta:initial-creator>Иван Петров</meta:initial-creator></office:meta>
<office:font-face-decls><style:font-face style:name="Symbol" svg:font-family="Symbol" style:font-charset="x-symbol"/></office:font-face-decls>
<office:styles><style:style style:name="Standard" style:family="paragraph"/></office:styles>
<office:automatic-styles>
<style:style style:name="T" style:family="table"><style:table-properties style:width="15cm" table:align="left"/></style:style>
<style:style style:name="C" style:family="table-cell"><style:table-cell-properties fo:border="0.5pt solid #000000" fo:padding="0.1cm"/></style:style>
<style:style style:name="Break" style:family="paragraph" style:parent-style-name="Standard"><style:paragraph-properties fo:break-before="page"/></style:style>
<text:list-style style:name="L">
<text:list-level-style-bullet text:level="1" text:bullet-char="&#xF0B7;"><style:list-level-properties text:list-level-position-and-space-mode="label-alignment"><style:list-level-label-alignment text:label-followed-by="listtab" fo:text-indent="-0.6cm" fo:margin-left="1.2cm"/></style:list-level-properties><style:text-properties style:font-name="Symbol"/></text:list-level-style-bullet>
<text:list-level-style-number text:level="2" style:num-format="1" style:num-suffix="."><style:list-level-properties text:list-level-position-and-space-mode="label-alignment"><style:list-level-label-alignment text:label-followed-by="listtab" fo:text-indent="-0.6cm" fo:margin-left="2.4cm"/></style:list-level-properties></text:list-level-style-number>
</text:list-style>
<style:page-layout style:name="pm1"><style:page-layout-properties fo:page-width="8.5in" fo:page-height="11in" fo:margin-top="1in" fo:margin-bottom="1in" fo:margin-left="1in" fo:margin-right="1in"/><style:header-style><style:header-footer-properties fo:min-height="0.5cm" fo:margin-bottom="0.3cm"/></style:header-style><style:footer-style><style:header-footer-properties fo:min-height="0.5cm" fo:margin-top="0.3cm"/></style:footer-style></style:page-layout>
</office:automatic-styles>
<office:master-styles><style:master-page style:name="Standard" style:page-layout-name="pm1"><style:header><text:p>Шапка документа</text:p></style:header><style:footer><text:p>Страница <text:page-number text:select-page="current">1</text:page-number></text:p></style:footer></style:master-page></office:master-styles>
<office:body><office:text>
<text:h text:outline-level="1">Отчёт о поездке</text:h>
<text:p>Съешь же ещё этих мягких французских булок )";
    xml += extra;
    xml +=
        R"(<text:note text:id="n1" text:note-class="footnote"><text:note-citation>1</text:note-citation><text:note-body><text:p>Сноска внизу страницы</text:p></text:note-body></text:note> Quarterly numbers</text:p>
<text:p>北京 欢迎 你们</text:p>
<text:p>مرحبا</text:p>
<table:table table:name="Table1" table:style-name="T"><table:table-column table:number-columns-repeated="3"/>
<table:table-header-rows><table:table-row>)";
    xml += cell("Имя") + cell("Город") + cell("Возраст");
    xml += "</table:table-row></table:table-header-rows><table:table-row>";
    xml += cell("Объединённая ячейка", " table:number-columns-spanned=\"2\"") +
           "<table:covered-table-cell/>" + cell("30");
    xml += "</table:table-row><table:table-row>" + cell("Анна") + cell("Москва") + cell("25");
    xml += "</table:table-row><table:table-row>" + cell("Борис") + cell("Казань") + cell("41");
    xml += R"(</table:table-row></table:table>
<text:list text:style-name="L"><text:list-item><text:p>Первый пункт</text:p><text:list><text:list-item><text:p>Вложенный номер</text:p></text:list-item></text:list></text:list-item><text:list-item><text:p>Второй пункт</text:p></text:list-item></text:list>
<text:p><draw:frame draw:name="pic" text:anchor-type="as-char" svg:width="3cm" svg:height="2cm"><draw:image><office:binary-data>)";
    xml += Plist::base64(png);
    xml += R"(</office:binary-data></draw:image></draw:frame></text:p>
<text:p>Конец первой страницы</text:p>
<text:p text:style-name="Break">Вторая страница текста</text:p>
</office:text></office:body></office:document>
)";
    return xml;
}

// Words of a text: runs of letters and digits (every non-ASCII character counts as a
// letter), after NFKC (PDF text may hold presentation forms of Arabic letters).
std::vector<std::string> wordsOf(const std::string& text) {
    gchar* normal =
        g_utf8_normalize(text.c_str(), static_cast<gssize>(text.size()), G_NORMALIZE_NFKC);
    std::string folded = normal ? normal : text;
    g_free(normal);
    // Direction marks a reader may wrap right-to-left words in are no part of them.
    for (const char* mark : {"\u200E", "\u200F", "\u202A", "\u202B", "\u202C", "\u202D", "\u202E",
                             "\u2066", "\u2067", "\u2068", "\u2069"})
        for (std::size_t at; (at = folded.find(mark)) != std::string::npos;)
            folded.replace(at, 3, " ");
    for (char& c : folded)
        if (const auto u = static_cast<unsigned char>(c); u < 0x80 && !std::isalnum(u)) c = ' ';
    std::istringstream in(folded);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// The share of `wanted` found in `text` in order (each after the one before).
double recall(const std::vector<std::string>& wanted, const std::string& text) {
    const auto words = wordsOf(text);
    std::size_t at = 0;
    std::size_t found = 0;
    for (const auto& word : wanted) {
        std::size_t i = at;
        while (i < words.size() && words[i] != word)
            ++i;
        if (i < words.size()) {
            ++found;
            at = i + 1;
        }
    }
    return wanted.empty() ? 1 : static_cast<double>(found) / static_cast<double>(wanted.size());
}

std::string withoutTags(const std::string& xml) {
    return std::regex_replace(xml, std::regex("<[^>]*>"), " ");
}

std::string member(const std::filesystem::path& package, const std::string& name) {
    return test::runProgram({"unzip", "-p", package.string(), name}).out;
}

class DocumentFidelity : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new test::ScratchDir;
        s_session = new test::Session;
        test::toolOutput(
            {"convert", "-size", "60x40", "xc:green", (*s_dir / "green.png").string()});
        s_png = test::readFile(*s_dir / "green.png");
        test::writeFile(*s_dir / "shapes.fodt", shapesDocument(s_png));
        for (const char* format : {"docx", "odt", "rtf", "html"}) {
            const auto run = test::convertText(*s_dir / "shapes.fodt", format,
                                               (*s_dir / (std::string("shapes.") + format)));
            ASSERT_EQ(run.status, 0) << format << ": " << run.err;
        }
    }
    static void TearDownTestSuite() {
        delete s_session;
        delete s_dir;
    }

    static std::filesystem::path dir() { return s_dir->path(); }

    void convert(const std::filesystem::path& source, Format target,
                 const std::filesystem::path& output) {
        Tools tools;
        tools.textutil = LUMATRA_TEXTUTIL;
        DocumentConverter(tools).convert(source, target, Quality::balanced, output);
    }

    // The text a target holds, read without LibreOffice.
    static std::string textOf(const std::filesystem::path& file) {
        const std::string extension = file.extension().string();
        if (extension == ".pdf")
            return test::toolOutput({"pdftotext", "-layout", file.string(), "-"});
        if (extension == ".docx") return withoutTags(member(file, "word/document.xml"));
        if (extension == ".odt") return withoutTags(member(file, "content.xml"));
        if (extension == ".html") return withoutTags(test::readFile(file));
        if (extension == ".rtf") return test::rtfText(test::readFile(file));
        return test::readFile(file);
    }

    static inline test::ScratchDir* s_dir = nullptr;
    static inline test::Session* s_session = nullptr;
    static inline std::string s_png;
};

// The cells of each row share a line, the cells of each column their left edge, and the
// rows come in their order.
void expectTableInColumns(const std::filesystem::path& pdf) {
    const std::string boxes = test::toolOutput({"pdftotext", "-bbox", pdf.string(), "-"});
    std::map<std::string, std::pair<double, double>> at; // word → (xMin, yMin)
    const std::regex word(
        R"re(<word xMin="([0-9.]+)" yMin="([0-9.]+)" xMax="[0-9.]+" yMax="[0-9.]+">([^<]+)</word>)re");
    for (auto it = std::sregex_iterator(boxes.begin(), boxes.end(), word);
         it != std::sregex_iterator(); ++it)
        at.emplace((*it)[3].str(), std::make_pair(std::stod((*it)[1]), std::stod((*it)[2])));
    const std::vector<std::vector<std::string>> rows = {{"Имя", "Город", "Возраст"},
                                                        {"Объединённая", "", "30"},
                                                        {"Анна", "Москва", "25"},
                                                        {"Борис", "Казань", "41"}};
    for (std::size_t row = 0; row < rows.size(); ++row)
        for (std::size_t column = 0; column < 3; ++column) {
            const std::string& name = rows[row][column];
            if (name.empty()) continue;
            ASSERT_TRUE(at.count(name)) << name << " not in " << boxes;
            EXPECT_NEAR(at[name].first, at[rows[0][column]].first, 2) << name;
            EXPECT_NEAR(at[name].second, at[rows[row][0]].second, 2) << name;
            EXPECT_TRUE(row == 0 || at[rows[row - 1][0]].second < at[name].second) << name;
        }
}

// Upright A4 pages with every font embedded and no author named; the table, the bullets,
// the list's number and the picture; the footnote and on every page the header and the
// footer with the page's number (a web page has no pages of its own).
void expectPages(const std::filesystem::path& pdf, bool paged) {
    const std::string info = test::toolOutput({"pdfinfo", pdf.string()});
    EXPECT_THAT(info,
                ::testing::ContainsRegex("Page size: +595\\.[23][0-9]* x 841\\.89 pts \\(A4\\)"));
    const std::string fonts = test::toolOutput({"pdffonts", pdf.string()});
    EXPECT_THAT(fonts, Not(HasSubstr(" no  "))) << fonts; // every font embedded
    EXPECT_THAT(fonts, Not(HasSubstr("Material"))) << fonts;
    EXPECT_THAT(info, Not(HasSubstr("Title:"))) << info;
    EXPECT_THAT(info, Not(HasSubstr("Author:"))) << info;
    const std::string text = test::toolOutput({"pdftotext", "-layout", pdf.string(), "-"});
    EXPECT_THAT(text, HasSubstr("•"));
    EXPECT_THAT(text, Not(HasSubstr("\xEF\x82\xB7"))); // U+F0B7, a private-use bullet
    EXPECT_THAT(text, HasSubstr("1."));                // the nested list's number
    EXPECT_THAT(test::toolOutput({"pdfimages", "-list", pdf.string()}), HasSubstr(" 60    40 "));
    expectTableInColumns(pdf);
    if (!paged) return;
    EXPECT_THAT(info, ::testing::ContainsRegex("Pages: +2\n"));
    EXPECT_THAT(text, HasSubstr("Сноска внизу страницы"));
    for (const char* page : {"1", "2"}) {
        const std::string one =
            test::toolOutput({"pdftotext", "-f", page, "-l", page, pdf.string(), "-"});
        EXPECT_THAT(one, HasSubstr("Шапка документа")) << "page " << page;
        EXPECT_THAT(one, HasSubstr(std::string("Страница ") + page)) << "page " << page;
    }
}

TEST_F(DocumentFidelity, EveryShapeReachesEveryTarget) {
    for (const char* source : {"docx", "odt", "rtf", "html"}) {
        for (const Format target :
             {Format::txt, Format::html, Format::rtf, Format::docx, Format::odt, Format::pdf}) {
            const std::string extension(ext(target));
            SCOPED_TRACE(std::string(source) + " → " + extension);
            const auto output = dir() / (std::string("from-") + source + "." + extension);
            ASSERT_NO_THROW(convert(dir() / (std::string("shapes.") + source), target, output));
            EXPECT_GE(recall(bodyWords, textOf(output)), 0.99) << textOf(output);
            if (extension == "pdf") expectPages(output, std::string(source) != "html");
            if (extension == "odt") {
                EXPECT_EQ(member(output, "mimetype"), "application/vnd.oasis.opendocument.text");
                EXPECT_THAT(test::readFile(output), HasSubstr("Pictures/"));
            }
            if (extension == "docx") {
                EXPECT_THAT(test::readFile(output), HasSubstr("word/media/"));
                EXPECT_THAT(member(output, "word/document.xml"), HasSubstr("w:gridSpan"));
                EXPECT_THAT(member(output, "word/footnotes.xml"), HasSubstr("Сноска"));
            }
            if (extension == "rtf") {
                const std::string rtf = test::readFile(output);
                EXPECT_TRUE(rtf.find("\\pngblip") != std::string::npos ||
                            rtf.find("\\jpegblip") != std::string::npos);
                EXPECT_THAT(rtf, Not(HasSubstr("\\nonshppict")));
            }
        }
    }
}

TEST_F(DocumentFidelity, CommentsNeverStopAConversion) {
    test::writeFile(dir() / "remarks.fodt",
                    shapesDocument(s_png, "<office:annotation><dc:creator>Иван</dc:creator><text:p>"
                                          "Заметка на полях</text:p></office:annotation>"));
    const auto docx = dir() / "remarks.docx";
    const auto made = test::convertText(dir() / "remarks.fodt", "docx", docx);
    ASSERT_EQ(made.status, 0) << made.err;
    ASSERT_THAT(test::readFile(docx), HasSubstr("word/comments.xml"));
    const pid_t engine = s_session->enginePid();
    const auto pdf = dir() / "remarks.pdf";
    ASSERT_NO_THROW(convert(docx, Format::pdf, pdf));
    EXPECT_GE(recall(bodyWords, textOf(pdf)), 0.99) << textOf(pdf);
    // Where the engine cannot open such a document, LibreOffice's own program does: the
    // warm engine stays at work for the documents that follow.
    EXPECT_EQ(s_session->enginePid(), engine);
    EXPECT_TRUE(test::processRuns(engine));
}

// Every link target a file holds, each once, read by the format's own rules; a package's
// own parts are no links.
std::set<std::string> linksOf(const std::filesystem::path& file) {
    const std::string extension = file.extension().string();
    std::string text = test::readFile(file);
    std::string pattern = R"re(href="([^"]*)")re";
    if (extension == ".pdf") {
        text = test::toolOutput({"pdfinfo", "-url", file.string()});
        pattern = R"(Annotation +(\S+))";
    } else if (extension == ".docx") {
        text = member(file, "word/_rels/document.xml.rels");
        pattern = R"re(Target="([^"]*)" TargetMode="External")re";
    } else if (extension == ".odt") {
        text = member(file, "content.xml");
        pattern = R"re(xlink:href="((?!Pictures/)[^"]*)")re";
    } else if (extension == ".rtf") {
        pattern = R"re(HYPERLINK "([^"]*)")re";
    }
    std::set<std::string> links;
    const std::regex link(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), link);
         it != std::sregex_iterator(); ++it)
        links.insert((*it)[1]);
    return links;
}

TEST_F(DocumentFidelity, RelativeLinksKeepTheirTargetsInEveryFormat) {
    const auto folder = dir() / "links";
    std::filesystem::create_directories(folder);
    // A picture beside the Markdown file is carried into the document.
    std::filesystem::create_directories(folder / "img");
    test::writeFile(folder / "img" / "green.png", s_png);
    // Its PDF sets headings in the body's sans family and code monospaced.
    test::writeFile(folder / "links.md",
                    "# Ссылки\n\n[guide](docs/guide.html), [up](../other/x.md), "
                    "[web](https://example.org/a), [none]() "
                    "![Зелёный](img/green.png)\n\n```\ncode\n```\n");
    test::writeFile(folder / "links.html",
                    "<p><a href=\"docs/guide.html\">guide</a> <a href=\"../other/x.md\">up</a> "
                    "<a href=\"https://example.org/a\">web</a> <a href=\"\">none</a></p>");
    // ODF addresses count from inside the package, one folder further down.
    const std::set<std::string> plain = {"docs/guide.html", "../other/x.md",
                                         "https://example.org/a"};
    const std::set<std::string> package = {"../docs/guide.html", "../../other/x.md",
                                           "https://example.org/a"};
    for (const char* source : {"links.md", "links.html"}) {
        for (const Format target :
             {Format::pdf, Format::docx, Format::odt, Format::rtf, Format::html}) {
            const std::string extension(ext(target));
            SCOPED_TRACE(std::string(source) + " to " + extension);
            const auto output = folder / ("out." + extension);
            ASSERT_NO_THROW(convert(folder / source, target, output));
            auto links = linksOf(output);
            if (extension == "html") links.erase("");
            EXPECT_EQ(links, extension == "odt" ? package : plain);
            EXPECT_THAT(test::readFile(output), Not(HasSubstr("lumatra-")));
            if (std::string(source) == "links.md" && (extension == "docx" || extension == "odt")) {
                EXPECT_THAT(test::readFile(output),
                            HasSubstr(extension == "docx" ? "word/media/" : "Pictures/"));
            }
            if (std::string(source) == "links.md" && extension == "pdf") {
                const std::string fonts = test::toolOutput({"pdffonts", output.string()});
                EXPECT_THAT(fonts, Not(HasSubstr("Serif")));
                EXPECT_THAT(fonts, HasSubstr("Mono"));
            }
            std::filesystem::remove(output);
        }
    }
}

} // namespace
} // namespace lumatra
