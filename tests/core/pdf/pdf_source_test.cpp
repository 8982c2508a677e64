#include "pdf/pdf_source.h"

#include "core/pdf/pdf_samples.h"
#include "formats/convert_error.h"
#include "pdf/pdf_document.h"

#include <cairo-pdf.h>
#include <pango/pangocairo.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

namespace lumatra {
namespace {

using test::SamplePage;

// One A4 page with `markup` (pango's markup) set in DejaVu Sans 12 at the top-left, drawn
// glyph by glyph by pango and cairo, fonts embedded: the way real documents are made.
std::filesystem::path drawPdf(const std::filesystem::path& file, const std::string& markup) {
    cairo_surface_t* surface = cairo_pdf_surface_create(file.c_str(), 595.28, 841.89);
    cairo_t* cr = cairo_create(surface);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_cairo_context_set_resolution(pango_layout_get_context(layout), 72);
    pango_layout_context_changed(layout);
    PangoFontDescription* font = pango_font_description_from_string("DejaVu Sans 12");
    pango_layout_set_font_description(layout, font);
    pango_layout_set_markup(layout, markup.c_str(), -1);
    cairo_move_to(cr, 56, 56);
    pango_cairo_show_layout(cr, layout);
    pango_font_description_free(font);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    EXPECT_EQ(cairo_surface_status(surface), CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(surface);
    return file;
}

class PdfSourceTest : public ::testing::Test {
protected:
    std::filesystem::path pdf(const std::string& name, const std::vector<SamplePage>& pages) {
        const auto path = m_dir / name;
        test::writeFile(path, test::samplePdf(pages));
        return path;
    }

    // Converts and returns the folder flag; the text converter only records its calls.
    bool convert(const std::filesystem::path& source, Format target,
                 const std::filesystem::path& output, Quality quality = Quality::balanced,
                 std::stop_token stop = {}) {
        // Every conversion has a fresh scratch folder of its own.
        std::filesystem::remove_all(m_dir / "scratch");
        std::filesystem::create_directories(m_dir / "scratch");
        return PdfSource::convert(
            source, target, quality, output, m_dir / "scratch",
            [this](const std::filesystem::path& from, const std::string& format,
                   const std::filesystem::path& to) {
                m_textConverterCalls.push_back(from.filename().string() + " " + format + " " +
                                               to.filename().string());
                test::writeFile(to, test::readFile(from));
            },
            stop);
    }

    std::string failure(const std::filesystem::path& source, Format target,
                        Quality quality = Quality::balanced) {
        const auto output = m_dir / ("out." + std::string(ext(target)));
        std::filesystem::remove_all(output);
        try {
            convert(source, target, output, quality);
        } catch (const ConvertError& error) {
            return error.errorDescription();
        }
        return "no failure";
    }

    test::ScratchDir m_dir;
    std::vector<std::string> m_textConverterCalls;
};

TEST_F(PdfSourceTest, TextTargetsTakeTheTextOfEveryPage) {
    const auto source = pdf("two.pdf", test::textPages(2));
    EXPECT_FALSE(convert(source, Format::txt, m_dir / "out.txt"));
    EXPECT_EQ(test::readFile(m_dir / "out.txt"), "Page 1\nPage 2");

    EXPECT_FALSE(convert(source, Format::rtf, m_dir / "out.rtf"));
    // Each page's text is followed by one line feed.
    EXPECT_EQ(test::rtfText(test::readFile(m_dir / "out.rtf")), "Page 1\nPage 2\n");

    // docx and html go through the text converter from "document.rtf" in the scratch folder.
    EXPECT_FALSE(convert(source, Format::docx, m_dir / "out.docx"));
    EXPECT_FALSE(convert(source, Format::html, m_dir / "out.html"));
    EXPECT_EQ(m_textConverterCalls, (std::vector<std::string>{"document.rtf docx out.docx",
                                                              "document.rtf html out.html"}));
    EXPECT_EQ(test::readFile(m_dir / "out.docx"), test::readFile(m_dir / "out.rtf"));
}

TEST_F(PdfSourceTest, RichTextKeepsWhatTheFontsTell) {
    const auto styled = drawPdf(m_dir / "styled.pdf", "Обычный <b>жирный</b> текст\nи "
                                                      "<i><span size=\"20pt\">курсив</span></i>");
    EXPECT_FALSE(convert(styled, Format::rtf, m_dir / "styled.rtf"));
    EXPECT_EQ(test::rtfText(test::readFile(m_dir / "styled.rtf")),
              "Обычный жирный текст\nи курсив\n");
    // What the writer makes of the styles is the writer's test.
    const AttributedText back = PdfDocument::open(styled).attributedText();
    for (const auto& [word, bold, italic, size] : {std::tuple{"Обычный", false, false, 12},
                                                   {"жирный", true, false, 12},
                                                   {"курсив", false, true, 20}}) {
        const auto run = std::ranges::find_if(back.runs(), [&](const auto& run) {
            return back.text().substr(run.start, run.length).find(word) != std::string::npos;
        });
        ASSERT_NE(run, back.runs().end()) << word;
        EXPECT_EQ(run->style.bold, bold) << word;
        EXPECT_EQ(run->style.italic, italic) << word;
        EXPECT_EQ(run->style.fontSize, size) << word;
        EXPECT_EQ(run->style.fontFamily, "DejaVuSans") << word;
    }
}

TEST_F(PdfSourceTest, RefusalsComeInTheirOrder) {
    // A page without a text layer, like a scan, refuses every text target…
    const auto scan = pdf("scan.pdf", {{200, 300, 0, ""}, {200, 300, 0, ""}});
    for (const Format target : {Format::txt, Format::rtf, Format::docx, Format::html})
        EXPECT_EQ(failure(scan, target),
                  "В PDF нет текста — похоже, это скан. Переведите его в PNG или JPG.")
            << rawValue(target);
    EXPECT_TRUE(m_textConverterCalls.empty());
    // …but gives pictures.
    EXPECT_TRUE(convert(scan, Format::png, m_dir / "scan pages"));

    EXPECT_EQ(failure(scan, Format::mp3), "Так конвертировать нельзя: PDF → MP3");

    // A locked document says so whatever the target, an unoffered one included.
    const auto locked = m_dir / "locked.pdf";
    test::toolOutput({"qpdf", "--encrypt", "user", "owner", "256", "--",
                      pdf("plain.pdf", test::textPages(1)).string(), locked.string()});
    for (const Format target : {Format::txt, Format::png, Format::mp3})
        EXPECT_EQ(failure(locked, target), "PDF защищён паролем") << rawValue(target);
    // A document with only an owner password opens as any other.
    const auto restricted = m_dir / "restricted.pdf";
    test::toolOutput({"qpdf", "--encrypt", "", "owner", "256", "--print=none", "--",
                      (m_dir / "plain.pdf").string(), restricted.string()});
    EXPECT_FALSE(convert(restricted, Format::txt, m_dir / "restricted.txt"));

    // Not a PDF, nothing there, or not a regular file at all.
    test::writeFile(m_dir / "fake.pdf", "%PDF-1.4\nnothing else");
    ASSERT_EQ(::mkfifo((m_dir / "fifo.pdf").c_str(), 0600), 0);
    std::filesystem::create_directory(m_dir / "folder.pdf");
    for (const char* name : {"fake.pdf", "missing.pdf", "fifo.pdf", "folder.pdf"})
        EXPECT_EQ(failure(m_dir / name, Format::txt), "Не удалось открыть PDF") << name;

    // Cut-off files are read whole or refused, never taken for a scan (pages that cannot
    // be read are the next test's).
    const std::string whole = test::samplePdf(test::textPages(3));
    for (const std::size_t keep : {whole.size() / 4, whole.size() / 2, whole.size() - 30}) {
        test::writeFile(m_dir / "cut.pdf", whole.substr(0, keep));
        for (const Format target : {Format::txt, Format::png}) {
            const std::string outcome = failure(m_dir / "cut.pdf", target);
            EXPECT_TRUE(outcome == "no failure" || outcome == "Не удалось открыть PDF" ||
                        outcome.starts_with("PDF повреждён: "))
                << keep << " " << outcome;
        }
    }
}

// A PDF whose cross-reference table points beside its objects and whose page objects are
// gone from page `missing` on (1-based), as broken writers and cut-off downloads leave
// them. `pages` 0 gives a page tree without kids.
std::string damagedPdf(int pages, int missing) {
    std::string pdf = test::samplePdf(test::textPages(pages));
    // Every offset one byte off: poppler has to rebuild the table from the objects.
    const std::size_t table = pdf.find("xref\n");
    for (std::size_t at = pdf.find(" 00000 n", table); at != std::string::npos;
         at = pdf.find(" 00000 n", at + 1))
        pdf[at - 1] = static_cast<char>(pdf[at - 1] == '9' ? '0' : pdf[at - 1] + 1);
    // Page objects are objects 7, 9, 11…: "obj" misspelt, they are no objects at all.
    for (int page = missing; page <= pages; ++page) {
        const std::string header = std::to_string(5 + 2 * page) + " 0 obj\n<< /Type /Page ";
        const std::size_t at = pdf.find(header);
        if (at != std::string::npos) pdf.replace(at + header.find("obj"), 3, "obx");
    }
    return pdf;
}

TEST_F(PdfSourceTest, PagesThatCannotBeReadFailEveryTargetAndAreNoScan) {
    struct Case {
        int pages, missing;
        std::string message;
    } cases[] = {
        {4, 1, "PDF повреждён: страницу 1 не удалось прочитать."},
        {4, 3, "PDF повреждён: страницу 3 не удалось прочитать."},
        {0, 1, "PDF повреждён: в нём не найдено ни одной страницы."},
    };
    for (const Case& c : cases) {
        const auto source = m_dir / ("damaged " + std::to_string(c.missing) + ".pdf");
        test::writeFile(source, damagedPdf(c.pages, c.missing));
        for (const Format target :
             {Format::txt, Format::rtf, Format::docx, Format::html, Format::png, Format::jpg})
            EXPECT_EQ(failure(source, target), c.message) << c.missing << " " << rawValue(target);
    }
    // The same table damage alone is repaired: the pages read and draw.
    const auto repaired = m_dir / "repaired.pdf";
    test::writeFile(repaired, damagedPdf(4, 5));
    EXPECT_TRUE(convert(repaired, Format::png, m_dir / "repaired pages"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir / "repaired pages"),
                            std::filesystem::directory_iterator()),
              4);
    EXPECT_FALSE(convert(repaired, Format::txt, m_dir / "repaired.txt"));
    EXPECT_EQ(test::readFile(m_dir / "repaired.txt"), "Page 1\nPage 2\nPage 3\nPage 4");
}

TEST_F(PdfSourceTest, PicturesOfManyPagesGoIntoAFolderNamedByPage) {
    // Numbers are padded to the width of the last one, so that names sort by page.
    for (const auto& [pages, format, first, last] :
         {std::tuple{3, Format::png, "Страница 1.png", "Страница 3.png"},
          std::tuple{10, Format::jpg, "Страница 01.jpg", "Страница 10.jpg"}}) {
        const auto source = pdf(std::to_string(pages) + ".pdf", test::textPages(pages));
        const auto output = m_dir / (std::to_string(pages) + " pages");
        EXPECT_TRUE(convert(source, format, output, Quality::small));
        const auto names = test::ScratchDir::entriesOf(output);
        ASSERT_EQ(names.size(), static_cast<std::size_t>(pages));
        EXPECT_EQ(names.front(), first);
        EXPECT_EQ(names.back(), last);
        EXPECT_EQ(test::readFile(output / last).substr(0, 3),
                  format == Format::png ? "\x89PN" : "\xFF\xD8\xFF");
    }

    // One page is one picture in place of the folder.
    EXPECT_FALSE(convert(pdf("one.pdf", test::textPages(1)), Format::png, m_dir / "one.png"));
    EXPECT_TRUE(std::filesystem::is_regular_file(m_dir / "one.png"));
}

TEST_F(PdfSourceTest, PictureSizeFollowsCropBoxTurnAndQuality) {
    struct Case {
        SamplePage page;
        Quality quality;
        double width, height; // in points
    } cases[] = {
        {{200, 300, 0, "upright"}, Quality::balanced, 200, 300},
        {{200, 300, 90, "turned"}, Quality::balanced, 300, 200},
        {{200, 300, 180, "upside down"}, Quality::small, 200, 300},
        {{200, 300, 270, "turned back"}, Quality::best, 300, 200},
        {{400, 400, 0, "cropped", 100, 250}, Quality::best, 100, 250},
        {{400, 400, 90, "cropped", 100, 250}, Quality::small, 250, 100},
    };
    for (const Case& c : cases) {
        const auto output = m_dir / "page.png";
        std::filesystem::remove(output);
        EXPECT_FALSE(convert(pdf("page.pdf", {c.page}), Format::png, output, c.quality));
        const double scale = PdfSource::dpi(c.quality) / 72.0;
        int width = 0;
        int height = 0;
        std::istringstream(test::toolOutput({"identify", "-format", "%w %h", output.string()})) >>
            width >> height;
        EXPECT_NEAR(width, c.width * scale, 1.0) << c.page.text << " " << c.page.rotate;
        EXPECT_NEAR(height, c.height * scale, 1.0) << c.page.text << " " << c.page.rotate;
    }
}

TEST_F(PdfSourceTest, PagesTooLargeOrTooManyToDrawOrACancelAreRefused) {
    // 14400 points square is the largest page PDF allows: 3.6 gigapixels at 300 dpi.
    const auto source = pdf("huge.pdf", {{200, 300, 0, "small"}, {14400, 14400, 0, "huge"}});
    EXPECT_EQ(failure(source, Format::png, Quality::best), "Не удалось отрисовать страницу 2");
    // The page already written stays.
    EXPECT_TRUE(std::filesystem::exists(m_dir / "out.png" / "Страница 1.png"));
    // Past a thousand pages nothing is drawn; the text targets still read them all.
    const auto thick = pdf("thick.pdf", test::textPages(PdfSource::maxPicturePages + 1));
    EXPECT_EQ(failure(thick, Format::jpg), "Страниц в PDF: 1001, а в картинки переводятся "
                                           "документы до 1000 страниц. Разделите его на части.");
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out.jpg"));
    EXPECT_EQ(failure(thick, Format::txt), "no failure");
    // Cancelled, nothing more is drawn or read.
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(
        convert(source, Format::png, m_dir / "cancelled", Quality::small, stop.get_token()),
        CancelledError);
    EXPECT_TRUE(std::filesystem::is_empty(m_dir / "cancelled"));
    EXPECT_THROW(
        convert(source, Format::txt, m_dir / "cancelled.txt", Quality::small, stop.get_token()),
        CancelledError);
}

TEST_F(PdfSourceTest, RightToLeftTextComesOutInReadingOrder) {
    struct Case {
        std::filesystem::path source;
        std::string text;
    };
    std::vector<Case> all = {
        // Drawn glyph by glyph, left to right as they show (pango and cairo): a line of
        // Arabic, set at the right, and Arabic inside a line of English.
        {drawPdf(m_dir / "arabic.pdf", "حَبيبي"), "حَبيبي"},
        {drawPdf(m_dir / "mixed.pdf", "Hello حَبيبي world"), "Hello حَبيبي world"},
        // Words whose text the producer attached in reading order (actual text: مرحبا and
        // حَبيبي in UTF-16), the first word at the right as it reads.
        {pdf("attached.pdf",
             {{.content = "BT /F1 24 Tf 20 100 Td /Span << /ActualText <FEFF06450631062D06280627> "
                          ">> BDC (ghijk) Tj EMC ( ) Tj /Span << /ActualText "
                          "<FEFF062D064E0628064A0628064A> >> BDC (abcdef) Tj EMC ET"}}),
         "حَبيبي مرحبا"},
        // Drawn in one string as it shows, in a font of fixed pitch: the letters and the
        // vowel mark as wide as each other (the ligature لا halved); and with a narrow mark
        // drawn just before its letter, as LibreOffice draws one.
        {pdf("fixed.pdf", {{.content = "BT /F2 24 Tf 10 100 Td (HIGEF DCDCAB) Tj ET"}}),
         "حَبيبي السلام"},
        {pdf("mark.pdf", {{.content = "BT /F3 24 Tf 20 100 Td (DCDCBA) Tj ET"}}), "حَبيبي"},
    };
    // Text set turned on an upright page: a quarter, half and three quarters.
    for (const auto& [name, matrix] :
         {std::pair{"set90", "0 1 -1 0 100 10"}, std::pair{"set180", "-1 0 0 -1 190 200"},
          std::pair{"set270", "0 -1 1 0 100 290"}}) {
        const std::string content =
            std::string("BT /F2 24 Tf ") + matrix + " Tm (HIGEF DCDCAB) Tj ET";
        all.push_back({pdf(std::string(name) + ".pdf", {{.content = content}}), "حَبيبي السلام"});
    }
    // Pages turned by a quarter, half and three quarters read the same.
    for (const char* turn : {"90", "180", "270"}) {
        for (const auto& [name, text] :
             {std::pair{"mixed", "Hello حَبيبي world"}, std::pair{"arabic", "حَبيبي"},
              std::pair{"fixed", "حَبيبي السلام"}, std::pair{"mark", "حَبيبي"}}) {
            const auto turned = m_dir / (name + std::string(turn) + ".pdf");
            test::toolOutput({"qpdf", std::string("--rotate=+") + turn,
                              (m_dir / (std::string(name) + ".pdf")).string(), turned.string()});
            all.push_back({turned, text});
        }
    }
    for (const Case& c : all) {
        const std::string name = c.source.stem().string();
        EXPECT_FALSE(convert(c.source, Format::txt, m_dir / (name + ".txt")));
        EXPECT_EQ(test::readFile(m_dir / (name + ".txt")), c.text) << name;
        EXPECT_FALSE(convert(c.source, Format::rtf, m_dir / (name + ".rtf")));
        EXPECT_EQ(test::rtfText(test::readFile(m_dir / (name + ".rtf"))), c.text + "\n") << name;
    }
}

TEST_F(PdfSourceTest, LinesOfOneParagraphAreJoinedAndHyphensMended) {
    const SamplePage page{
        .width = 600,
        .height = 400,
        .content =
            "BT /F1 12 Tf 14 TL 20 350 Td (Lorem ipsum dolor sit amet, consetetur sadipscing "
            "elitr, sed diam nonumy taki-) Tj T* (mata sanctus est lorem ipsum dolor sit amet, "
            "consetetur sadipscing elitr, sed diam) Tj T* (voluptua. At vero eos.) Tj T* "
            "(Short line) Tj 0 -40 Td (Second paragraph, well-known.) Tj ET"};
    const auto source = pdf("paragraphs.pdf", {page});
    ASSERT_FALSE(convert(source, Format::rtf, m_dir / "paragraphs.rtf"));
    EXPECT_EQ(test::rtfText(test::readFile(m_dir / "paragraphs.rtf")),
              "Lorem ipsum dolor sit amet, consetetur sadipscing elitr, sed diam nonumy takimata "
              "sanctus est lorem ipsum dolor sit amet, consetetur sadipscing elitr, sed diam "
              "voluptua. At vero eos.\nShort line\nSecond paragraph, well-known.\n");
}

} // namespace
} // namespace lumatra
