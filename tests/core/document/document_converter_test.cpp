#include "document/document_converter.h"

#include "converter/converter.h"
#include "converter/output_slot.h"
#include "core/document/document_support.h"
#include "core/pdf/pdf_samples.h"
#include "data/plist_bridge.h"
#include "formats/convert_error.h"

#include <glib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <thread>

namespace lumatra {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

Tools documentTools() {
    Tools tools = Tools::locate();
    tools.textutil = LUMATRA_TEXTUTIL;
    return tools;
}

std::string toWindows1251(const std::string& text) {
    gchar* converted = g_convert(text.data(), static_cast<gssize>(text.size()), "WINDOWS-1251",
                                 "UTF-8", nullptr, nullptr, nullptr);
    const std::string out = converted ? converted : "";
    g_free(converted);
    return out;
}

struct Route {
    std::string source;
    Format target;
    std::string expected; // a piece of the text that must survive
};

// Converts each route's source through the dispatcher and reads the result back.
void expectRoutes(const test::ScratchDir& dir, const std::vector<Route>& routes) {
    const Converter converter(documentTools());
    for (const auto& route : routes) {
        SCOPED_TRACE(route.source + " → " + std::string(rawValue(route.target)));
        std::vector<double> progress;
        const auto result =
            converter.run(dir / route.source, route.target, {Quality::balanced, dir / "out"},
                          [&](double f) { progress.push_back(f); });
        EXPECT_EQ(result.output.extension(), "." + std::string(ext(route.target)));
        EXPECT_GT(result.bytes, 0);
        EXPECT_EQ(progress, std::vector<double>{1.0});
        const std::string text = route.target == Format::txt ? test::readFile(result.output)
                                                             : test::textOf(result.output);
        EXPECT_THAT(text, HasSubstr(route.expected));
    }
}

// Runs share warm engines, as a session's do (the cold runs are the text converter's
// own suite).
class DocumentRoutes : public ::testing::Test {
protected:
    test::Session session;
    test::ScratchDir dir;
};

TEST_F(DocumentRoutes, PlainTextInAnyEncodingAndUnderAnyName) {
    test::writeFile(dir / "utf8.txt", "Строка один\nСтрока два\n");
    test::writeFile(dir / "legacy.txt", toWindows1251("Ёжик в тумане\nвторая строка\n"));
    test::writeFile(dir / "legacy.log", toWindows1251("Ёжик в тумане\r\nвторая строка\r\n"));
    test::writeFile(dir / "notes.text", "Заметка\n");
    test::writeFile(dir / "server.log", "2024-01-01 запуск сервера\n");
    test::writeFile(dir / "build.cpp", "int main() { return 0; } // пример\n");
    test::writeFile(dir / "old.htm",
                    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                    "charset=windows-1251\"></head><body><p>" +
                        toWindows1251("Старая страница") + "</p></body></html>");
    expectRoutes(dir, {
                          {"utf8.txt", Format::odt, "Строка два"},
                          {"legacy.log", Format::txt, "Ёжик в тумане\nвторая строка"},
                          {"legacy.txt", Format::docx, "Ёжик в тумане"},
                          {"notes.text", Format::html, "Заметка"},
                          {"server.log", Format::txt, "запуск сервера"},
                          {"build.cpp", Format::rtf, "// пример"},
                          {"old.htm", Format::rtf, "Старая страница"},
                      });
    // Text targets are UTF-8 without a byte-order mark, lines ended by LF.
    EXPECT_EQ(test::readFile(dir / "out" / "legacy.txt"), "Ёжик в тумане\nвторая строка\n");
}

TEST_F(DocumentRoutes, OfficeDocumentsArchivesAndPackages) {
    // OpenDocument and rich text made by LibreOffice from a page (both, and Word, as
    // sources are the fidelity suite's).
    test::writeFile(dir / "page.html", test::samplePage());
    for (const char* format : {"odt", "rtf"}) {
        const auto run =
            test::convertText(dir / "page.html", format, (dir / (std::string("report.") + format)));
        ASSERT_EQ(run.status, 0) << run.err;
    }
    // Word 97 is no target of ours: LibreOffice itself writes one.
    const auto doc = test::runProgram(
        {"soffice", "-env:UserInstallation=file://" + (dir / "soffice-profile").string(),
         "--headless", "--convert-to", "doc:MS Word 97", "--outdir", dir.path().string(),
         (dir / "report.odt").string()});
    ASSERT_TRUE(std::filesystem::exists(dir / "report.doc")) << doc.out << doc.err;
    std::filesystem::create_directory(dir / "package.rtfd");
    std::filesystem::copy_file(dir / "report.rtf", dir / "package.rtfd" / "TXT.rtf");
    // A web archive: a property list whose main resource holds the page, and its
    // picture among the other resources.
    const std::string page =
        "<html><body><p>Архив страницы</p><img src=\"https://example.com/dot.png\"></body></html>";
    test::writeFile(dir / "saved.webarchive",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                    "<key>WebMainResource</key><dict><key>WebResourceData</key><data>" +
                        Plist::base64(page) +
                        "</data><key>WebResourceMIMEType</key><string>text/html</string>"
                        "<key>WebResourceTextEncodingName</key><string>UTF-8</string>"
                        "<key>WebResourceURL</key><string>https://example.com/</string>"
                        "</dict><key>WebSubresources</key><array><dict><key>WebResourceURL</key>"
                        "<string>https://example.com/dot.png</string><key>WebResourceData</key>"
                        "<data>iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDw"
                        "AEhQGAhKmMIQAAAABJRU5ErkJggg==</data></dict></array></dict></plist>");
    expectRoutes(dir, {
                          {"report.doc", Format::rtf, "Квартальный отчёт"},
                          {"package.rtfd", Format::txt, "Квартальный отчёт"},
                          {"saved.webarchive", Format::docx, "Архив страницы"},
                      });
    EXPECT_TRUE(test::docxHasPicture(dir / "out" / "saved.docx"));
}

TEST_F(DocumentRoutes, ResultsNeverFollowTheirPrivateFolderSwappedForALink) {
    // A folder others may write to, and theirs, where a link would send our text.
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    const auto shared = dir / "shared";
    const auto theirs = dir / "theirs";
    for (const auto& folder : {shared, theirs}) {
        std::filesystem::create_directory(folder);
        std::filesystem::permissions(folder, std::filesystem::perms(0777));
    }
    test::writeFile(dir / "notes.md", "# SECRET42\n\nText.\n");
    test::writeFile(dir / "pages.pdf", test::samplePdf(test::textPages(2)));
    // Once the run's private folder is ready, it is moved away and a link to their
    // folder takes its name.
    OutputSlot::setSeam([&](OutputSlot::Stage stage, const std::string& name) {
        if (stage != OutputSlot::Stage::ready) return;
        std::filesystem::rename(shared / name, shared / ("moved" + name));
        std::filesystem::create_directory_symlink(theirs, shared / name);
    });
    const Converter converter(documentTools());
    // Each way a document result reaches the output: through the text converter, the
    // renderer's page, the PDF export, and the PDF routes' own writers.
    const std::pair<const char*, Format> routes[] = {
        {"notes.md", Format::docx}, {"notes.md", Format::html}, {"notes.md", Format::pdf},
        {"pages.pdf", Format::txt}, {"pages.pdf", Format::rtf}, {"pages.pdf", Format::docx},
        {"pages.pdf", Format::png},
    };
    for (const auto& [source, target] : routes) {
        SCOPED_TRACE(std::string(source) + " → " + std::string(rawValue(target)));
        try {
            const auto result =
                converter.run(dir / source, target, {Quality::balanced, shared}, {});
            EXPECT_EQ(result.output.parent_path(), shared);
            EXPECT_GT(result.bytes, 0);
        } catch (const std::exception& error) {
            ADD_FAILURE() << describe(error);
        }
        EXPECT_TRUE(std::filesystem::is_empty(theirs));
    }
    OutputSlot::setSeam({});
}

TEST(DocumentConverter, FailuresComeInOrderAndLeaveNoScratch) {
    test::PrivateTemp temp;
    test::ScratchDir dir;
    test::writeFile(dir / "a.docx", "this is not a zip file");
    test::writeFile(dir / "bad.md", "# \xFF\xFE broken");
    test::writeFile(dir / "ok.md", "# fine");
    ::mkfifo((dir / "pipe.txt").c_str(), 0600);
    // A Word document whose text is an entity that expands a billion times.
    ASSERT_EQ(test::runProgram({"python3", "-c", R"(import sys, zipfile
x, o = '<?xml version="1.0"?>', 'http://schemas.openxmlformats.org/'
e = '<!ENTITY l0 "ha">' + ''.join(f'<!ENTITY l{i} "{f"&l{i - 1};" * 10}">' for i in range(1, 10))
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr('[Content_Types].xml', f'{x}<Types xmlns="{o}package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>')
    z.writestr('_rels/.rels', f'{x}<Relationships xmlns="{o}package/2006/relationships"><Relationship Id="rId1" Type="{o}officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>')
    z.writestr('word/document.xml', f'{x}<!DOCTYPE w:document [{e}]><w:document xmlns:w="{o}wordprocessingml/2006/main"><w:body><w:p><w:r><w:t>&l9;</w:t></w:r></w:p></w:body></w:document>'))",
                                (dir / "laughs.docx").string()})
                  .status,
              0);
    const DocumentConverter converter(documentTools());
    const auto failure = [&](const char* name, Format target) -> std::string {
        try {
            converter.convert(dir / name, target, Quality::balanced, dir / "out.bin");
        } catch (const ConvertError& error) {
            return "ConvertError: " + error.errorDescription();
        } catch (const std::exception& error) {
            return std::string("other: ") + error.what();
        }
        return "(converted)";
    };
    EXPECT_EQ(failure("a.docx", Format::mp3),
              "ConvertError: Так конвертировать нельзя: документ → MP3");
    // An unreadable Markdown source is reported before the unsupported target.
    EXPECT_EQ(failure("bad.md", Format::mp3), "ConvertError: Не удалось прочитать «" +
                                                  (dir / "bad.md").string() +
                                                  "»: это не текст в кодировке UTF-8");
    EXPECT_EQ(failure("ok.md", Format::png),
              "ConvertError: Так конвертировать нельзя: документ → PNG");
    EXPECT_THAT(failure("pipe.txt", Format::docx), HasSubstr("не обычный файл"));
    // The tool's own line alone: no program name, no exit status.
    const std::string damaged = failure("a.docx", Format::odt);
    EXPECT_THAT(damaged, StartsWith("ConvertError: Файл «" + (dir / "a.docx").string() + "»"));
    EXPECT_THAT(damaged, ::testing::Not(HasSubstr("lumatra-textutil")));
    EXPECT_EQ(failure("laughs.docx", Format::pdf),
              "ConvertError: Не удалось открыть «" + (dir / "laughs.docx").string() +
                  "»: файл повреждён или это не документ DOCX");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));

    Tools missing = documentTools();
    missing.textutil = dir / "no-such-tool";
    EXPECT_THROW(DocumentConverter(missing).convert(dir / "ok.md", Format::docx, Quality::balanced,
                                                    dir / "out.docx"),
                 SystemError);
}

TEST(DocumentConverter, StoppingEndsTheToolAndLeavesNothing) {
    test::PrivateTemp temp;
    test::ScratchDir dir;
    test::writeLongText(dir / "long.md", 60000);
    std::stop_source stop;
    std::chrono::steady_clock::time_point stopped;
    std::jthread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stopped = std::chrono::steady_clock::now();
        stop.request_stop();
    });
    EXPECT_THROW(DocumentConverter(documentTools())
                     .convert(dir / "long.md", Format::docx, Quality::balanced, dir / "long.docx",
                              {}, stop.get_token()),
                 CancelledError);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(1));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"long.md"});
}

} // namespace
} // namespace lumatra
