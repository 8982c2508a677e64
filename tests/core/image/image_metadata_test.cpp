// A photograph's description (IPTC), wherever the source keeps it, reaches HEIC and AVIF
// as the XMP that photo software reads, and its camera data (EXIF) reaches TIFF as it
// reaches JPEG; written and read back here by exiftool.
#include "image/image_converter.h"
#include "support/fixtures.h"
#include "support/image_fixtures.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <tuple>

namespace lumatra {
namespace {

using test::exiftoolWrite;
using test::ScratchDir;

// An AFCP trailer (big-endian) holding `iim`, for a file of `fileSize` bytes so far.
std::string afcpTrailer(std::size_t fileSize, const std::string& iim) {
    const auto start = static_cast<unsigned>(fileSize);
    return "AXS!" + test::be32({0x00010001, 0}) + "IPTC" +
           test::be32({static_cast<unsigned>(iim.size()), start + 24}) + iim + "AXS!" +
           test::be32({start, 0});
}

// Tags exiftool reads from `file` ("XMP:all", "IFD0:Make"), by their group-qualified
// names ("XMP-dc:Subject"), lists joined with ", ".
std::map<std::string, std::string> exiftoolTags(const std::filesystem::path& file,
                                                const std::vector<std::string>& tags) {
    std::vector<std::string> argv{"exiftool", "-args", "-G1", "-charset", "utf8", "-sep", ", "};
    for (const std::string& tag : tags)
        argv.push_back("-" + tag);
    argv.push_back(file.string());
    const auto run = test::runProgram(argv);
    EXPECT_EQ(run.status, 0) << run.err;
    std::map<std::string, std::string> found; // from lines "-XMP-dc:Title=Закат"
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);)
        if (const auto equals = line.find('='); line.starts_with("-") && equals != line.npos)
            found[line.substr(1, equals - 1)] = line.substr(equals + 1);
    return found;
}

TEST(ImageMetadata, IptcReachesHeicAndAvifAsXmpWhereverTheSourceKeepsIt) {
    ScratchDir dir;
    // Each IPTC dataset, the XMP tag it becomes, and its text.
    const std::tuple<std::string, std::string, std::string> fields[] = {
        {"ObjectName", "XMP-dc:Title", "Закат"},
        {"Caption-Abstract", "XMP-dc:Description", "Солнце садится над Невой"},
        {"By-line", "XMP-dc:Creator", "Анна Петрова"},
        {"CopyrightNotice", "XMP-dc:Rights", "© 2024 Анна Петрова"},
        {"City", "XMP-photoshop:City", "Санкт-Петербург"},
        {"Province-State", "XMP-photoshop:State", "Ленобласть"},
        {"Country-PrimaryLocationName", "XMP-photoshop:Country", "Россия"},
        {"Headline", "XMP-photoshop:Headline", "Белые ночи"},
        {"Credit", "XMP-photoshop:Credit", "Фотоагентство"},
    };
    std::vector<std::string> iptc{"-IPTC:CodedCharacterSet=UTF8", "-IPTC:Keywords=закат",
                                  "-IPTC:Keywords=река", "-IPTC:DateCreated=2024:06:21",
                                  "-IPTC:TimeCreated=22:30:00+03:00"};
    std::map<std::string, std::string> fromIptc{
        {"XMP-dc:Subject", "закат, река"},
        {"XMP-photoshop:DateCreated", "2024:06:21 22:30:00+03:00"}};
    for (const auto& [dataset, xmp, text] : fields) {
        iptc.push_back("-IPTC:" + dataset + "=" + text);
        fromIptc[xmp] = text;
    }
    // XMP of its own: what it says stays, IPTC adds what it lacks.
    std::vector<std::string> withXmp = iptc;
    withXmp.insert(withXmp.end(),
                   {"-XMP-xmp:Rating=4", "-XMP-photoshop:City=Петергоф", "-XMP-x:XMPToolkit="});
    std::map<std::string, std::string> merged = fromIptc;
    merged["XMP-photoshop:City"] = "Петергоф";
    merged["XMP-xmp:Rating"] = "4";

    const auto plain = dir / "plain.jpg";
    test::markedPicture(96, 64, false).jpegsave(plain.c_str());
    const auto tagged = [&](const std::string& name, const std::vector<std::string>& args) {
        std::filesystem::copy_file(plain, dir / name);
        exiftoolWrite(dir / name, args);
    };
    tagged("app13.jpg", iptc);
    tagged("app13 and xmp.jpg", withXmp);
    // Without a declared character set, text that is no UTF-8 is Latin-1.
    tagged("latin-1.jpg", {"-charset", "iptc=Latin", "-IPTC:City=Zürich", "-IPTC:Keywords=See"});
    const std::string iim =
        test::runProgram({"exiftool", "-b", "-IPTC", (dir / "app13.jpg").string()}).out;
    const std::string bytes = test::readFile(plain);
    test::writeFile(dir / "trailer.jpg", bytes + afcpTrailer(bytes.size(), iim));

    const std::pair<std::string, std::map<std::string, std::string>> cases[] = {
        {"app13", fromIptc},
        {"app13 and xmp", merged},
        {"trailer", fromIptc},
        {"latin-1", {{"XMP-photoshop:City", "Zürich"}, {"XMP-dc:Subject", "See"}}},
    };
    for (const auto& [name, expected] : cases) {
        for (const Format target : {Format::heic, Format::avif}) {
            SCOPED_TRACE(name + " → " + std::string(title(target)));
            const auto output = dir / (name + "." + std::string(ext(target)));
            ImageConverter::convert(dir / (name + ".jpg"), target, Quality::balanced, output);
            EXPECT_EQ(exiftoolTags(output, {"XMP:all"}), expected);
        }
    }
    // The trailer's IPTC is the JPEG's own from then on.
    ImageConverter::convert(dir / "trailer.jpg", Format::jpg, Quality::balanced,
                            dir / "from trailer.jpg");
    const auto kept =
        exiftoolTags(dir / "from trailer.jpg", {"IPTC:City", "IPTC:Keywords", "IPTC:By-line"});
    EXPECT_EQ(kept, (std::map<std::string, std::string>{{"IPTC:City", "Санкт-Петербург"},
                                                        {"IPTC:Keywords", "закат, река"},
                                                        {"IPTC:By-line", "Анна Петрова"}}));
}

TEST(ImageMetadata, TiffKeepsTheCameraDataJpegKeeps) {
    ScratchDir dir;
    // A tag of every type and directory; the picture is stored turned.
    const std::vector<std::string> written{"IFD0:Make=Canon",
                                           "IFD0:Model=EOS 5D",
                                           "IFD0:Orientation#=6",
                                           "IFD0:Artist=Анна",
                                           "IFD0:ModifyDate=2021:06:22 08:00:00",
                                           "ExifIFD:ExposureTime=1/200",
                                           "ExifIFD:FNumber=2.8",
                                           "ExifIFD:ISO=400",
                                           "ExifIFD:FocalLength=50",
                                           "ExifIFD:DateTimeOriginal=2021:06:21 22:30:00",
                                           "ExifIFD:UserComment=Белые ночи",
                                           "ExifIFD:ExifVersion=0230",
                                           "GPS:GPSLatitudeRef=N",
                                           "GPS:GPSLatitude=55.75"};
    std::vector<std::string> tags;
    for (const std::string& tag : written)
        tags.push_back(tag.substr(0, tag.find_first_of("#=")));
    // Cameras write either byte order.
    for (const std::string order : {"II", "MM"}) {
        SCOPED_TRACE(order);
        const auto source = dir / (order + ".jpg");
        test::markedPicture(60, 40, false).jpegsave(source.c_str());
        std::vector<std::string> args{"-exif:all=", "-ExifByteOrder=" + order};
        for (const std::string& tag : written)
            args.push_back("-" + tag);
        exiftoolWrite(source, args);
        const auto jpeg = dir / (order + " out.jpg");
        const auto tiff = dir / (order + " out.tiff");
        ImageConverter::convert(source, Format::jpg, Quality::best, jpeg);
        ImageConverter::convert(source, Format::tiff, Quality::best, tiff);
        const auto kept = exiftoolTags(jpeg, tags);
        EXPECT_EQ(kept.size(), tags.size());
        EXPECT_EQ(kept.at("IFD0:Orientation"), "Horizontal (normal)");
        EXPECT_EQ(exiftoolTags(tiff, tags), kept);
        const vips::VImage upright = vips::VImage::new_from_file(tiff.c_str());
        EXPECT_EQ(upright.width(), 40);
        EXPECT_EQ(upright.height(), 60);
    }
}

} // namespace
} // namespace lumatra
