// Documents to PDF and PDF to documents through the whole document pipeline, with the
// real text converter.
#include "document/document_converter.h"

#include "core/pdf/pdf_samples.h"
#include "formats/convert_error.h"
#include "pdf/pdf_document.h"

#include <gtest/gtest.h>

namespace lumatra {
namespace {

class DocumentPdfTest : public ::testing::Test {
protected:
    void SetUp() override { m_tools.textutil = LUMATRA_TEXTUTIL; }

    bool convert(const std::filesystem::path& source, Format target,
                 const std::filesystem::path& output) {
        return DocumentConverter(m_tools).convert(source, target, Quality::balanced, output);
    }

    std::string pdfText(const std::filesystem::path& pdf) {
        return PdfDocument::open(pdf).plainText();
    }

    Tools m_tools;
    test::ScratchDir m_dir;
};

TEST_F(DocumentPdfTest, DocxWithTableAndPictureKeepsThemAll) {
    test::toolOutput({"convert", "-size", "60x40", "xc:green", (m_dir / "green.png").string()});
    const std::string png = test::readFile(m_dir / "green.png");
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string base64;
    for (std::size_t i = 0; i < png.size(); i += 3) {
        unsigned value = static_cast<unsigned char>(png[i]) << 16;
        if (i + 1 < png.size()) value |= static_cast<unsigned char>(png[i + 1]) << 8;
        if (i + 2 < png.size()) value |= static_cast<unsigned char>(png[i + 2]);
        base64 += alphabet[(value >> 18) & 63];
        base64 += alphabet[(value >> 12) & 63];
        base64 += i + 1 < png.size() ? alphabet[(value >> 6) & 63] : '=';
        base64 += i + 2 < png.size() ? alphabet[value & 63] : '=';
    }
    test::writeFile(m_dir / "source.html",
                    "<html><body><p>Перед таблицей <b>жирный</b></p>"
                    "<table border=\"1\"><tr><td>Ячейка один</td><td>Cell two</td></tr>"
                    "<tr><td>Три</td><td>Four</td></tr></table>"
                    "<p>Картинка: <img src=\"data:image/png;base64," +
                        base64 + "\" width=\"60\" height=\"40\"></p></body></html>");
    ASSERT_FALSE(convert(m_dir / "source.html", Format::docx, m_dir / "report.docx"));

    ASSERT_FALSE(convert(m_dir / "report.docx", Format::pdf, m_dir / "report.pdf"));
    const std::string text = pdfText(m_dir / "report.pdf");
    for (const char* piece :
         {"Перед таблицей", "жирный", "Ячейка один", "Cell two", "Три", "Four", "Картинка"})
        EXPECT_NE(text.find(piece), std::string::npos) << piece << " in " << text;
    // The cells of a table row share their line.
    const std::string layout =
        test::toolOutput({"pdftotext", "-layout", (m_dir / "report.pdf").string(), "-"});
    const std::size_t row = layout.find("Ячейка один");
    ASSERT_NE(row, std::string::npos) << layout;
    EXPECT_LT(layout.find("Cell two", row), layout.find('\n', row)) << layout;
    const std::string images =
        test::toolOutput({"pdfimages", "-list", (m_dir / "report.pdf").string()});
    EXPECT_NE(images.find(" 60 "), std::string::npos) << images;
    const std::string fonts = test::toolOutput({"pdffonts", (m_dir / "report.pdf").string()});
    EXPECT_NE(fonts.find("Bold"), std::string::npos) << fonts;
}

TEST_F(DocumentPdfTest, PlainTextAndMarkdownBecomePages) {
    std::string lines;
    for (int i = 1; i <= 120; ++i)
        lines += "Строка " + std::to_string(i) + "\n";
    test::writeFile(m_dir / "notes.txt", lines);
    ASSERT_FALSE(convert(m_dir / "notes.txt", Format::pdf, m_dir / "notes.pdf"));
    const PdfDocument notes = PdfDocument::open(m_dir / "notes.pdf");
    EXPECT_GE(notes.pageCount(), 2);
    EXPECT_NE(notes.plainText().find("Строка 120"), std::string::npos);

    test::writeFile(m_dir / "readme.md", "# Заголовок\n\nТекст *с курсивом*.\n");
    ASSERT_FALSE(convert(m_dir / "readme.md", Format::pdf, m_dir / "readme.pdf"));
    const std::string text = pdfText(m_dir / "readme.pdf");
    EXPECT_NE(text.find("Заголовок"), std::string::npos) << text;
    EXPECT_EQ(text.find("#"), std::string::npos) << text;
}

TEST_F(DocumentPdfTest, PdfTextReachesWordAndWebPages) {
    test::writeFile(m_dir / "pages.pdf", test::samplePdf(test::textPages(2)));
    ASSERT_FALSE(convert(m_dir / "pages.pdf", Format::html, m_dir / "pages.html"));
    std::string html = test::readFile(m_dir / "pages.html");
    std::replace(html.begin(), html.end(), '\n', ' ');
    EXPECT_NE(html.find("Page 1"), std::string::npos) << html;
    EXPECT_NE(html.find("Page 2"), std::string::npos) << html;

    ASSERT_FALSE(convert(m_dir / "pages.pdf", Format::docx, m_dir / "pages.docx"));
    EXPECT_EQ(test::readFile(m_dir / "pages.docx").substr(0, 2), "PK");

    // Pictures of several pages come back as a folder.
    EXPECT_TRUE(convert(m_dir / "pages.pdf", Format::png, m_dir / "pages"));
    EXPECT_TRUE(std::filesystem::exists(m_dir / "pages" / "Страница 2.png"));
}

} // namespace
} // namespace lumatra
