#include "data/plist_bridge.h"

#include "core/data/binary_plist.h"
#include "data/data_converter.h"
#include "data/json.h"

#include <gtest/gtest.h>

#include <cstring>

namespace lumatra {
namespace {

using test::binaryPlist;

std::string compact(const Node& node) {
    return JSON::write(node, 0, false);
}

std::string bigEndianDouble(char marker, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    std::string out(1, marker);
    for (int i = 7; i >= 0; --i)
        out.push_back(static_cast<char>(bits >> (8 * i)));
    return out;
}

TEST(PlistRead, XmlValuesBecomeNodes) {
    const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
	<key>b</key><true/>
	<key>B</key><false/>
	<key>a</key><array>
		<integer>-1</integer>
		<integer>18446744073709551615</integer>
		<integer>-9223372036854775808</integer>
		<integer>9223372036854775807</integer>
		<integer>42</integer>
		<real>1.5</real>
		<real>10</real>
		<real>0.1</real>
		<real>-2.5e-300</real>
	</array>
	<key>dates</key><array>
		<date>2024-03-01T09:30:00Z</date>
		<date>1900-01-01T00:00:00Z</date>
		<date>2100-01-01T12:00:00Z</date>
	</array>
	<key>data</key><data>AP8QIA==</data>
	<key>s</key><string>x &amp; &lt;y&gt; Ж</string>
	<key>empty</key><dict/>
</dict></plist>)";
    // Keys sorted by code point: upper case before lower case.
    const Node tree = DataConverter::read(xml, "plist");
    EXPECT_EQ(compact(tree),
              R"({"B":false,"a":[-1,18446744073709551615,-9223372036854775808,)"
              R"(9223372036854775807,42,1.5,10,0.1,-2.5e-300],"b":true,"data":"AP8QIA==",)"
              R"("dates":["2024-03-01T09:30:00Z","1900-01-01T00:00:00Z","2100-01-01T12:00:00Z"],)"
              R"("empty":{},"s":"x & <y> Ж"})");
    // Written out through JSON and back, every value reads as it was.
    const std::string json = DataConverter::write(tree, Format::json);
    const std::string again =
        DataConverter::write(DataConverter::read(json, "json"), Format::plist);
    EXPECT_EQ(DataConverter::read(again, "plist"), tree);
}

TEST(PlistRead, BinaryKeepsSignsWideIntegersFarDatesAndAnyKey) {
    // Dates count seconds from 2001; 2100 lies beyond 32 bits of them.
    const double seconds2100 = 4102444800.0 - 978307200.0;
    const std::string plist = binaryPlist({
        "\xA8\x01\x02\x03\x04\x05\x06\x0A\x0D",                 // array of eight
        std::string("\x13\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 9), // -1, eight bytes signed
        std::string("\x14\0\0\0\0\0\0\0\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 17),      // 2^64-1
        bigEndianDouble('\x33', seconds2100), bigEndianDouble('\x33', -3187296000.0), // 1900-01-01
        std::string("\x42\x00\xFF", 3), "\xD1\x07\x08", test::ascii("key"), "\x09",
        std::string("\x53"
                    "a\0b",
                    4),                                 // a zero byte inside an ASCII key
        "\xD3\x09\x0B\x0C\x08\x08\x08",                 // three keys, one shared value
        std::string("\x63\xD8\x3D\xDE\x00\x00\x21", 7), // UTF-16 with a surrogate pair
        "\x50",                                         // the empty key
        "\x53"
        "a\xE9z", // an ASCII string with a byte above 7F
    });
    // A zero byte inside a key does not cut it; a byte that is no ASCII becomes U+FFFD.
    EXPECT_EQ(compact(DataConverter::read(plist, "plist")),
              R"([-1,18446744073709551615,"2100-01-01T00:00:00Z","1900-01-01T00:00:00Z",)"
              R"("AP8=",{"key":true},{"":true,"a\u0000b":true,"😀!":true},"a)"
              "\uFFFDz\"]");
}

TEST(PlistWrite, NumbersNullsAndDuplicateKeys) {
    const Node tree = JSON::parse(
        R"({"z":null,"k":1,"k":2,"n":[10,10.0,1e2,-5,+7,-0,99999999999999999999,)"
        R"(9223372036854775807,-9223372036854775808,18446744073709551615,1e999,-1e999,1e-999],)"
        R"("s":"a&b<c>","t":true,"e":[],"o":{}})");
    EXPECT_EQ(Plist::writeXml(tree),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC "
              "\"-//Apple//DTD PLIST 1.0//EN\" "
              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n"
              "<dict>\n\t<key>e</key>\n\t<array/>\n"
              "\t<key>k</key>\n\t<integer>2</integer>\n\t<key>n</key>\n\t<array>\n"
              "\t\t<integer>10</integer>\n\t\t<real>10</real>\n\t\t<real>100</real>\n"
              "\t\t<integer>-5</integer>\n\t\t<integer>7</integer>\n\t\t<integer>0</integer>\n"
              "\t\t<real>1e+20</real>\n\t\t<integer>9223372036854775807</integer>\n"
              "\t\t<integer>-9223372036854775808</integer>\n"
              "\t\t<integer>18446744073709551615</integer>\n\t\t<real>+infinity</real>\n"
              "\t\t<real>-infinity</real>\n\t\t<real>0</real>\n\t</array>\n"
              "\t<key>o</key>\n\t<dict/>\n\t<key>s</key>\n\t<string>a&amp;b&lt;c&gt;</string>\n"
              "\t<key>t</key>\n\t<true/>\n\t<key>z</key>\n\t<string></string>\n</dict>\n"
              "</plist>\n");
}

TEST(PlistDates, IsoTextInUtcWithWholeSeconds) {
    struct Case {
        double seconds;
        std::string text;
    } cases[] = {
        {0, "1970-01-01T00:00:00Z"},
        {-0.5, "1969-12-31T23:59:59Z"}, // rounded down, not toward zero
        {1709285400.75, "2024-03-01T09:30:00Z"},
        {951782400, "2000-02-29T00:00:00Z"},
        {4102444800, "2100-01-01T00:00:00Z"},
        {-2208988800, "1900-01-01T00:00:00Z"},
        {253402300799, "9999-12-31T23:59:59Z"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Plist::isoDate(c.seconds), c.text);
}

} // namespace
} // namespace lumatra
