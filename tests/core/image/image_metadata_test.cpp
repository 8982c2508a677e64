// A photograph's description (IPTC), wherever the source keeps it, reaches HEIC and AVIF
// as the XMP that photo software reads, and its camera data (EXIF) reaches TIFF as it
// reaches JPEG; read back here by exiftool.
#include "image/image_converter.h"
#include "support/fixtures.h"
#include "support/image_fixtures.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace lumatra {
namespace {

using test::runProgram;
using test::ScratchDir;
using vips::VImage;

std::string describedIim() {
    const auto dataset = [](int number, const std::string& value) {
        return test::iimDataset(2, number, value);
    };
    return test::iimDataset(1, 90, "\x1B%G") + dataset(5, "Закат") +
           dataset(120, "Солнце садится над Невой") + dataset(25, "закат") + dataset(25, "река") +
           dataset(80, "Анна Петрова") + dataset(116, "© 2024 Анна Петрова") +
           dataset(90, "Санкт-Петербург") + dataset(95, "Ленинградская область") +
           dataset(101, "Россия") + dataset(105, "Белые ночи") + dataset(110, "Фотоагентство") +
           dataset(55, "20240621") + dataset(60, "223000+0300");
}

// An AFCP trailer (big-endian) holding `iim`, for a file of `fileSize` bytes so far.
std::string afcpTrailer(std::size_t fileSize, const std::string& iim) {
    const auto be = [](std::uint32_t value, int bytes) {
        std::string out;
        for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
            out += static_cast<char>(value >> shift & 0xFF);
        return out;
    };
    const auto start = static_cast<std::uint32_t>(fileSize);
    std::string trailer = "AXS!" + be(1, 2) + be(1, 2) + be(0, 4);
    trailer += "IPTC" + be(static_cast<std::uint32_t>(iim.size()), 4) + be(start + 24, 4);
    return trailer + iim + "AXS!" + be(start, 4) + be(0, 4);
}

// A JPEG with the given metadata blocks (either may be empty).
std::string jpegWith(const std::string& iptc, const std::string& xmp) {
    VImage picture = test::markedPicture(96, 64, false).copy();
    for (const auto& [name, block] :
         {std::pair{VIPS_META_IPTC_NAME, &iptc}, {VIPS_META_XMP_NAME, &xmp}})
        if (!block->empty())
            vips_image_set_blob_copy(picture.get_image(), name, block->data(), block->size());
    return test::bytesOf(picture, ".jpg");
}

// Tags exiftool reads from `file`, by their group-qualified names ("XMP-dc:Subject"), lists
// joined with ", ".
std::map<std::string, std::string> exiftoolTags(const std::filesystem::path& file,
                                                const std::vector<std::string>& tags) {
    std::vector<std::string> argv{"exiftool", "-args", "-G1", "-charset", "utf8", "-sep", ", "};
    for (const std::string& tag : tags)
        argv.push_back("-" + tag);
    argv.push_back(file.string());
    const auto run = runProgram(argv);
    EXPECT_EQ(run.status, 0) << run.err;
    std::map<std::string, std::string> found; // from lines "-XMP-dc:Title=Закат"
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);)
        if (const auto equals = line.find('='); line.starts_with("-") && equals != line.npos)
            found[line.substr(1, equals - 1)] = line.substr(equals + 1);
    return found;
}

const std::vector<std::string> xmpTags{"XMP-dc:Title",
                                       "XMP-dc:Description",
                                       "XMP-dc:Subject",
                                       "XMP-dc:Creator",
                                       "XMP-dc:Rights",
                                       "XMP-photoshop:City",
                                       "XMP-photoshop:State",
                                       "XMP-photoshop:Country",
                                       "XMP-photoshop:Headline",
                                       "XMP-photoshop:Credit",
                                       "XMP-photoshop:DateCreated",
                                       "XMP-xmp:Rating"};

TEST(ImageMetadata, IptcReachesHeicAndAvifAsXmpWhereverTheSourceKeepsIt) {
    ScratchDir dir;
    const std::string iim = describedIim();
    const std::map<std::string, std::string> fromIptc{
        {"XMP-dc:Title", "Закат"},
        {"XMP-dc:Description", "Солнце садится над Невой"},
        {"XMP-dc:Subject", "закат, река"},
        {"XMP-dc:Creator", "Анна Петрова"},
        {"XMP-dc:Rights", "© 2024 Анна Петрова"},
        {"XMP-photoshop:City", "Санкт-Петербург"},
        {"XMP-photoshop:State", "Ленинградская область"},
        {"XMP-photoshop:Country", "Россия"},
        {"XMP-photoshop:Headline", "Белые ночи"},
        {"XMP-photoshop:Credit", "Фотоагентство"},
        {"XMP-photoshop:DateCreated", "2024:06:21 22:30:00+03:00"},
    };
    // XMP of its own: what it says stays, IPTC adds what it lacks.
    const std::string ownXmp =
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
        "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
        "rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" "
        "xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\" xmp:Rating=\"4\" "
        "photoshop:City=\"Петергоф\"/></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
    std::map<std::string, std::string> merged = fromIptc;
    merged["XMP-photoshop:City"] = "Петергоф";
    merged["XMP-xmp:Rating"] = "4";
    // Without a declared character set, text that is no UTF-8 is Latin-1.
    const std::string latin = test::iimDataset(2, 90, "Z\xFCrich") + test::iimDataset(2, 25, "See");

    const std::string plain = jpegWith({}, {});
    struct Case {
        std::string name, jpeg;
        std::map<std::string, std::string> expected;
    } cases[] = {
        {"app13", jpegWith(test::photoshopBlock(iim), {}), fromIptc},
        {"app13 and xmp", jpegWith(test::photoshopBlock(iim), ownXmp), merged},
        {"trailer", plain + afcpTrailer(plain.size(), iim), fromIptc},
        {"latin-1",
         jpegWith(test::photoshopBlock(latin), {}),
         {{"XMP-photoshop:City", "Zürich"}, {"XMP-dc:Subject", "See"}}},
    };
    for (const Case& c : cases) {
        const auto source = dir / (c.name + ".jpg");
        test::writeFile(source, c.jpeg);
        for (const Format target : {Format::heic, Format::avif}) {
            SCOPED_TRACE(c.name + " → " + std::string(title(target)));
            const auto output = dir / (c.name + "." + std::string(ext(target)));
            ImageConverter::convert(source, target, Quality::balanced, output);
            EXPECT_EQ(exiftoolTags(output, xmpTags), c.expected);
        }
    }
    // The trailer's IPTC is the JPEG's own from then on.
    ImageConverter::convert(dir / "trailer.jpg", Format::jpg, Quality::balanced,
                            dir / "from trailer.jpg");
    const auto iptc =
        exiftoolTags(dir / "from trailer.jpg", {"IPTC:City", "IPTC:Keywords", "IPTC:By-line"});
    EXPECT_EQ(iptc, (std::map<std::string, std::string>{{"IPTC:City", "Санкт-Петербург"},
                                                        {"IPTC:Keywords", "закат, река"},
                                                        {"IPTC:By-line", "Анна Петрова"}}));
}

TEST(ImageMetadata, TiffKeepsTheCameraDataJpegKeeps) {
    ScratchDir dir;
    const std::vector<std::string> tags{"IFD0:Make",           "IFD0:Model",
                                        "IFD0:Orientation",    "IFD0:Artist",
                                        "IFD0:ModifyDate",     "ExifIFD:ExposureTime",
                                        "ExifIFD:FNumber",     "ExifIFD:ISO",
                                        "ExifIFD:FocalLength", "ExifIFD:DateTimeOriginal",
                                        "ExifIFD:UserComment", "ExifIFD:ExifVersion",
                                        "GPS:GPSLatitudeRef",  "GPS:GPSLatitude"};
    // Cameras write either byte order; the picture is stored turned.
    for (const std::string order : {"II", "MM"}) {
        SCOPED_TRACE(order);
        const auto source = dir / (order + ".jpg");
        test::markedPicture(60, 40, false).jpegsave(source.c_str());
        const auto tagged = runProgram({"exiftool",
                                        "-q",
                                        "-overwrite_original",
                                        "-exif:all=",
                                        "-ExifByteOrder=" + order,
                                        "-Orientation#=6",
                                        "-Make=Canon",
                                        "-Model=EOS 5D",
                                        "-Artist=Анна",
                                        "-ModifyDate=2021:06:22 08:00:00",
                                        "-DateTimeOriginal=2021:06:21 22:30:00",
                                        "-ExposureTime=1/200",
                                        "-FNumber=2.8",
                                        "-ISO=400",
                                        "-FocalLength=50",
                                        "-UserComment=Белые ночи",
                                        "-ExifVersion=0230",
                                        "-GPSLatitude=55.75",
                                        "-GPSLatitudeRef=N",
                                        source.string()});
        ASSERT_EQ(tagged.status, 0) << tagged.err;
        const auto jpeg = dir / (order + " out.jpg");
        const auto tiff = dir / (order + " out.tiff");
        ImageConverter::convert(source, Format::jpg, Quality::best, jpeg);
        ImageConverter::convert(source, Format::tiff, Quality::best, tiff);
        const auto kept = exiftoolTags(jpeg, tags);
        EXPECT_EQ(kept.size(), tags.size());
        EXPECT_EQ(kept.at("IFD0:Orientation"), "Horizontal (normal)");
        EXPECT_EQ(exiftoolTags(tiff, tags), kept);
        const VImage upright = VImage::new_from_file(tiff.c_str());
        EXPECT_EQ(upright.width(), 40);
        EXPECT_EQ(upright.height(), 60);
    }
}

} // namespace
} // namespace lumatra
