#include "page_pictures.h"

#include "data/plist_bridge.h"
#include "source_preparer.h"
#include "tool_error.h"

#include "support/fixtures.h"

#include <gtest/gtest.h>

namespace lumatra::textutil {
namespace {

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
                                      std::string("<plist><array/></plist>")}) {
        try {
            readWebArchive(broken);
            ADD_FAILURE() << "read: " << broken;
        } catch (const ToolError& error) {
            EXPECT_STREQ(error.what(), "в веб-архиве нет главной страницы");
        }
    }
}

} // namespace
} // namespace lumatra::textutil
