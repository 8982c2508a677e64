#include "formats/format.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

namespace lumatra {
namespace {

std::string joined(const std::vector<Format>& formats) {
    std::string text;
    for (Format format : formats)
        text += (text.empty() ? "" : ",") + std::string(rawValue(format));
    return text;
}

TEST(Catalog, RawValuesRoundTrip) {
    for (Format format : allFormats)
        EXPECT_EQ(formatFromRaw(rawValue(format)), format);
    for (Kind kind : allKinds)
        EXPECT_EQ(kindFromRaw(rawValue(kind)), kind);
    for (Quality quality : allQualities)
        EXPECT_EQ(qualityFromRaw(rawValue(quality)), quality);
    // Raw values are matched exactly.
    for (const char* wrong : {"HEVC", "jpeg", "Mp3", "", " mp3"})
        EXPECT_FALSE(formatFromRaw(wrong)) << wrong;
    EXPECT_FALSE(qualityFromRaw("Best"));
    // The extension is the container's, not the format's name.
    EXPECT_EQ(ext(Format::hevc), "mp4");
    EXPECT_EQ(ext(Format::alac), "m4a");
}

TEST(Catalog, ExtensionSetsAreDisjointAndNameTheirKind) {
    std::set<std::string_view> seen;
    for (Kind kind : allKinds) {
        for (auto extension : kindExtensions(kind)) {
            EXPECT_TRUE(seen.insert(extension).second) << extension;
            EXPECT_EQ(kindOf("x." + std::string(extension)), kind) << extension;
        }
    }
}

TEST(Catalog, KindComesFromTheNameOnly) {
    EXPECT_EQ(kindOf("/nowhere/Photo.JPEG"), Kind::image);
    EXPECT_EQ(kindOf("a.b.Flac"), Kind::audio);
    // Unknown to the tables: the type registry decides.
    EXPECT_EQ(kindOf("main.cpp"), Kind::document);
    EXPECT_EQ(kindOf("build.log"), Kind::document);
    EXPECT_EQ(kindOf("clip.qt"), Kind::video);
    // Pictures only of the types the decoder reads; names nothing knows have no kind.
    for (const char* name : {"a.ppm", "a.pgm", "a.pbm", "a.pnm", "a.pcx", "a.xcf", "a.svg"})
        EXPECT_EQ(kindOf(name), Kind::image) << name;
    for (const char* name : {"a.xpm", "a.eps", "a.wmf", "a.pef", "a.xwd", "notes.xyzzy", "README",
                             ".bashrc", "archive.zip"})
        EXPECT_FALSE(kindOf(name)) << name;
}

TEST(Catalog, TargetsAndDefaults) {
    struct Case {
        const char* file;
        const char* targets;
        const char* defaultTarget;
    };
    const Case cases[] = {
        {"Photo.JPEG", "jpg,png,heic,avif,tiff,gif,bmp,ico,icns,pdf", "png"},
        {"anim.gif", "jpg,png,heic,avif,tiff,gif,bmp,ico,icns,pdf,mp4,webm", "jpg"},
        {"clip.mp4", "mp4,hevc,mov,webm,mkv,gif,mp3,m4a,wav,flac,alac,opus,ogg,aiff", "mov"},
        {"clip.mkv", "mp4,hevc,mov,webm,mkv,gif,mp3,m4a,wav,flac,alac,opus,ogg,aiff", "mp4"},
        {"song.mp3", "mp3,m4a,wav,flac,alac,opus,ogg,aiff", "m4a"},
        {"song.m4a", "mp3,m4a,wav,flac,alac,opus,ogg,aiff", "mp3"},
        {"song.aif", "mp3,m4a,wav,flac,alac,opus,ogg,aiff", "mp3"},
        {"report.pdf", "txt,docx,rtf,html,png,jpg", "txt"},
        {"page.htm", "pdf,docx,rtf,txt,odt", "pdf"},
        {"notes.text", "pdf,docx,rtf,html,odt", "pdf"},
        {"notes.md", "pdf,docx,rtf,txt,html,odt", "pdf"},
        {"table.tsv", "json,plist", "json"},
        {"data.json", "csv,plist", "csv"},
        {"Info.plist", "json,csv", "json"},
        {"notes.xyzzy", "", ""},
        {"noextension", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(joined(targetsFor(c.file)), c.targets) << c.file;
        const auto target = defaultTargetFor(c.file);
        EXPECT_EQ(target ? std::string(rawValue(*target)) : "", c.defaultTarget) << c.file;
    }
    // A target the source already is: the same format under another name.
    for (const auto& [format, extension, same] :
         std::vector<std::tuple<Format, const char*, bool>>{{Format::jpg, "jpeg", true},
                                                            {Format::png, "jpeg", false},
                                                            {Format::csv, "tsv", true},
                                                            {Format::hevc, "mp4", true},
                                                            {Format::alac, "m4a", true},
                                                            {Format::txt, "text", true},
                                                            {Format::txt, "md", false}})
        EXPECT_EQ(isSameFormat(format, extension), same) << extension;
}

} // namespace
} // namespace lumatra
