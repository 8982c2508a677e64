#include "pdf/pdf_writer.h"

#include "core/pdf/pdf_samples.h"
#include "formats/convert_error.h"
#include "pdf/pdf_document.h"

#include <gtest/gtest.h>

#include <sstream>

namespace lumatra {
namespace {

AttributedText plain(const std::string& text) {
    AttributedText attributed;
    attributed.append(text);
    return attributed;
}

std::string numberedLines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i)
        text += "Строка номер " + std::to_string(i) + "\n";
    text.pop_back();
    return text;
}

int countLines(const std::string& text) {
    if (text.empty()) return 0;
    return static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
}

// The top-left corner of the first word on every page, from poppler's word boxes.
std::vector<std::pair<double, double>> firstWordCorners(const std::filesystem::path& pdf) {
    const std::string html = test::toolOutput({"pdftotext", "-bbox", pdf.string(), "-"});
    std::vector<std::pair<double, double>> corners;
    for (std::size_t page = html.find("<page"); page != std::string::npos;
         page = html.find("<page", page + 1)) {
        const std::size_t word = html.find("<word", page);
        if (word == std::string::npos) break;
        const auto attribute = [&](const std::string& name) {
            const std::size_t at = html.find(name + "=\"", word);
            return std::stod(html.substr(at + name.size() + 2));
        };
        corners.emplace_back(attribute("xMin"), attribute("yMin"));
    }
    return corners;
}

// Fonts of a PDF as pdffonts lists them: name and whether it is embedded.
std::vector<std::pair<std::string, bool>> fonts(const std::filesystem::path& pdf) {
    std::istringstream lines(test::toolOutput({"pdffonts", pdf.string()}));
    std::vector<std::pair<std::string, bool>> result;
    std::string line;
    for (int skip = 0; skip < 2 && std::getline(lines, line); ++skip) {
    }
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::vector<std::string> fields{std::istream_iterator<std::string>(words), {}};
        if (fields.size() >= 6) result.emplace_back(fields[0], fields[fields.size() - 5] == "yes");
    }
    return result;
}

class PdfWriterTest : public ::testing::Test {
protected:
    std::filesystem::path write(const AttributedText& text, const std::string& name = "out.pdf") {
        const auto path = m_dir / name;
        PDFWriter::write(text, path);
        return path;
    }
    int pages(const std::filesystem::path& pdf) { return PdfDocument::open(pdf).pageCount(); }

    test::ScratchDir m_dir;
};

TEST_F(PdfWriterTest, PagesAreA4AndAsManyAsTheTextNeeds) {
    struct Case {
        std::string text;
        int pages;
    } cases[] = {
        {"", 1}, {"\n", 1}, {"одна строка", 1}, {"одна строка\n", 1}, {numberedLines(250), 5},
    };
    for (const Case& c : cases) {
        const auto pdf = write(plain(c.text), "case.pdf");
        EXPECT_EQ(pages(pdf), c.pages) << c.text.substr(0, 30);
        const auto size = PdfDocument::open(pdf).pictureSize(0, 72);
        EXPECT_NEAR(size.width, 595.28, 0.01);
        EXPECT_NEAR(size.height, 841.89, 0.01);
        std::filesystem::remove(pdf);
    }

    // A text that exactly fills its pages gets no page more, with or without a final
    // line end; one line more opens the next page.
    const int perPage =
        countLines(PdfDocument::open(write(plain(numberedLines(200)), "long.pdf")).pageText(0));
    ASSERT_GT(perPage, 40);
    EXPECT_EQ(pages(write(plain(numberedLines(perPage)), "one.pdf")), 1);
    EXPECT_EQ(pages(write(plain(numberedLines(perPage + 1)), "two.pdf")), 2);
    EXPECT_EQ(pages(write(plain(numberedLines(3 * perPage)), "three.pdf")), 3);
    EXPECT_EQ(pages(write(plain(numberedLines(3 * perPage) + "\n"), "three again.pdf")), 3);
}

TEST_F(PdfWriterTest, EveryPageStartsAtTheMargins) {
    const auto pdf = write(plain(numberedLines(250)));
    const auto corners = firstWordCorners(pdf);
    ASSERT_EQ(corners.size(), 5u);
    for (const auto& [x, y] : corners) {
        EXPECT_NEAR(x, 56, 1.0);
        EXPECT_NEAR(y, 56, 1.5);
    }
    // The words come back as written, Cyrillic included.
    const PdfDocument document = PdfDocument::open(pdf);
    EXPECT_TRUE(document.pageText(0).starts_with("Строка номер 1\nСтрока номер 2\n"));
    EXPECT_NE(document.pageText(4).find("Строка номер 250"), std::string::npos);
}

TEST_F(PdfWriterTest, StylesReachThePage) {
    AttributedText text;
    CharacterStyle bold;
    bold.bold = true;
    CharacterStyle italic;
    italic.italic = true;
    italic.fontFamily = "Times";
    CharacterStyle red;
    red.fontSize = 48;
    red.foreground = Color{255, 0, 0};
    CharacterStyle marked;
    marked.fontSize = 48;
    marked.background = Color{255, 255, 0};
    text.append("Жирный ", bold);
    text.append("курсив\n", italic);
    text.append("КРАСНЫЙ\n", red);
    text.append("маркер", marked);
    const auto pdf = write(text);

    const auto list = fonts(pdf);
    const auto has = [&list](const std::string& part) {
        return std::any_of(list.begin(), list.end(), [&part](const auto& font) {
            return font.first.find(part) != std::string::npos;
        });
    };
    EXPECT_TRUE(has("DejaVuSans-Bold")) << test::toolOutput({"pdffonts", pdf.string()});
    EXPECT_TRUE(has("DejaVuSerif-Italic")) << test::toolOutput({"pdffonts", pdf.string()});
    for (const auto& [name, embedded] : list)
        EXPECT_TRUE(embedded) << name;

    // Red glyphs and a yellow highlight show up on the rendered page.
    const std::string ppm =
        test::toolOutput({"pdftoppm", "-r", "36", "-f", "1", "-l", "1", pdf.string()});
    ASSERT_EQ(ppm.substr(0, 2), "P6");
    std::istringstream header(ppm);
    std::string magic;
    int width = 0, height = 0, maximum = 0;
    header >> magic >> width >> height >> maximum;
    const std::size_t pixels = ppm.size() - static_cast<std::size_t>(width) * height * 3;
    int redPixels = 0, yellowPixels = 0;
    for (std::size_t at = pixels; at + 2 < ppm.size(); at += 3) {
        const auto r = static_cast<unsigned char>(ppm[at]);
        const auto g = static_cast<unsigned char>(ppm[at + 1]);
        const auto b = static_cast<unsigned char>(ppm[at + 2]);
        redPixels += r > 200 && g < 60 && b < 60;
        yellowPixels += r > 200 && g > 200 && b < 60;
    }
    EXPECT_GT(redPixels, 20);
    EXPECT_GT(yellowPixels, 100);
}

TEST_F(PdfWriterTest, LinksAreClickable) {
    AttributedText text;
    CharacterStyle link;
    link.link = "https://example.org/путь?a='1'";
    text.append("Смотрите ");
    text.append("этот сайт", link);
    text.append(" и всё.");
    const auto pdf = write(text);
    const std::string bytes = test::readFile(pdf);
    EXPECT_NE(bytes.find("/URI"), std::string::npos);
    EXPECT_NE(bytes.find("example.org"), std::string::npos);
}

TEST_F(PdfWriterTest, TextBeyondTheLastPageIsCut) {
    // Glyphs taller than a frame stand one to a page.
    AttributedText text;
    CharacterStyle huge;
    huge.fontSize = 700;
    std::string lines;
    for (int i = 0; i < PDFWriter::maxPages + 5; ++i)
        lines += "x\n";
    text.append(lines, huge);
    EXPECT_EQ(pages(write(text)), PDFWriter::maxPages);
}

TEST_F(PdfWriterTest, ChineseJapaneseAndKoreanKeepTheirGlyphs) {
    const std::string lines = "中文测试文本\n日本語のテキスト\n한국어 텍스트";
    const auto pdf = write(plain(lines));
    EXPECT_EQ(PdfDocument::open(pdf).pageText(0), lines);
    const auto list = fonts(pdf);
    EXPECT_TRUE(std::any_of(list.begin(), list.end(), [](const auto& font) {
        return font.first.find("NotoSansCJK") != std::string::npos;
    })) << test::toolOutput({"pdffonts", pdf.string()});
}

TEST_F(PdfWriterTest, PicturesAreDrawnAndJpegKeptAsItIs) {
    test::toolOutput({"convert", "-size", "40x20", "xc:red", (m_dir / "red.png").string()});
    test::toolOutput({"convert", "-size", "30x30", "xc:blue", (m_dir / "blue.jpg").string()});
    AttributedText text;
    text.append("До картинки ");
    text.appendImage({InlineImage::Type::png, test::readFile(m_dir / "red.png"), 0, 0});
    text.append("\n");
    text.appendImage({InlineImage::Type::jpeg, test::readFile(m_dir / "blue.jpg"), 100, 100});
    text.appendImage({InlineImage::Type::png, "not a picture", 0, 0});
    text.append(" после");
    const auto pdf = write(text);
    const std::string list = test::toolOutput({"pdfimages", "-list", pdf.string()});
    EXPECT_EQ(countLines(list) - 3, 2) << list; // two header lines and a final line end
    EXPECT_NE(list.find("jpeg"), std::string::npos) << list;
    EXPECT_NE(PdfDocument::open(pdf).pageText(0).find("после"), std::string::npos);
}

TEST_F(PdfWriterTest, FailuresLeaveNoFileBehind) {
    test::writeFile(m_dir / "taken.pdf", "mine");
    const std::pair<std::filesystem::path, std::string> cases[] = {
        {m_dir / "taken.pdf", "mine"},
        {m_dir / "missing" / "out.pdf", ""},
    };
    for (const auto& [path, content] : cases) {
        try {
            PDFWriter::write(plain("текст"), path);
            ADD_FAILURE() << path;
        } catch (const ConvertError& error) {
            EXPECT_EQ(error.errorDescription(), "Не удалось создать PDF");
        }
        if (!content.empty()) {
            EXPECT_EQ(test::readFile(path), content);
        }
    }

    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(
        PDFWriter::write(plain(numberedLines(100)), m_dir / "cancelled.pdf", stop.get_token()),
        CancelledError);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "cancelled.pdf"));
}

} // namespace
} // namespace lumatra
