#include "data/plist_bridge.h"

#include "core/data/binary_plist.h"
#include "data/data_converter.h"
#include "data/json.h"
#include "formats/convert_error.h"

#include <gtest/gtest.h>

#include <cstring>

namespace lumatra {
namespace {

using test::binaryPlist;

std::string compact(const Node& node) {
    return JSON::write(node, 0, false);
}

std::string xmlPlist(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + body +
           "\n</plist>\n";
}

std::string bigEndianDouble(char marker, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    std::string out(1, marker);
    for (int i = 7; i >= 0; --i)
        out.push_back(static_cast<char>(bits >> (8 * i)));
    return out;
}

std::string ascii(const std::string& text) {
    return static_cast<char>(0x50 | text.size()) + text;
}

TEST(PlistRead, XmlValuesBecomeNodes) {
    const std::string xml = xmlPlist(R"(<dict>
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
</dict>)");
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
        "\xA7\x01\x02\x03\x04\x05\x06\x0A",                     // array of seven
        std::string("\x13\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 9), // -1, eight bytes signed
        std::string("\x14\0\0\0\0\0\0\0\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 17),      // 2^64-1
        bigEndianDouble('\x33', seconds2100), bigEndianDouble('\x33', -3187296000.0), // 1900-01-01
        std::string("\x42\x00\xFF", 3), "\xD1\x07\x08", ascii("key"), "\x09",
        std::string("\x53"
                    "a\0b",
                    4),                                 // a zero byte inside an ASCII key
        "\xD3\x09\x0B\x0C\x08\x08\x08",                 // three keys, one shared value
        std::string("\x63\xD8\x3D\xDE\x00\x00\x21", 7), // UTF-16 with a surrogate pair
        "\x50",                                         // the empty key
    });
    // A zero byte inside a key does not cut it.
    EXPECT_EQ(compact(DataConverter::read(plist, "plist")),
              R"([-1,18446744073709551615,"2100-01-01T00:00:00Z","1900-01-01T00:00:00Z",)"
              R"("AP8=",{"key":true},{"":true,"a\u0000b":true,"😀!":true}])");
}

std::string outcome(const std::string& bytes, Format format, bool streaming) {
    try {
        if (streaming) return DataConverter::convert(bytes, "plist", format);
        return DataConverter::write(DataConverter::read(bytes, "plist"), format);
    } catch (const ConvertError& error) {
        return "error: " + error.errorDescription();
    }
}

TEST(PlistRead, StreamingMembersAndItemsGivesTheBytesOfTheTree) {
    const std::string a = ascii("a"), b = ascii("b"), c = ascii("c");
    const std::vector<std::string> lists[] = {
        // {"b":[1,2],"a":"x","c":[],"b" again:{"k":[true]}}, keys out of order
        {"\xD4\x01\x02\x03\x01\x04\x05\x06\x07", b, a, c, "\xA2\x08\x09", ascii("x"), "\xA0",
         "\xD1\x0A\x0B", "\x10\x01", "\x10\x02", ascii("k"), "\xA1\x0C", "\x09"},
        {"\xD0"},                                        // an empty dictionary
        {"\xD1\x01\x02", a, "\xC1\x03", "\x10\x05"},     // a set as a member's value
        {"\xD1\x01\x02", a, "\xA1\x00"},                 // an array holding the dictionary
        {"\xD1\x01\x02", a, "\xA1\x02"},                 // an array holding itself
        {"\xA2\x01\x01", "\xD1\x02\x03", a, "\x09"},     // a shared dictionary in an array
        {"\xB2\x01\x02", "\x10\x05", "\xD1\x03\x01", a}, // an ordered set at the top
        {"\xC1\x01", "\xD1\x02\x02", a},                 // a set at the top
    };
    // XML dictionaries stream only while their keys come in order.
    const std::string bodies[] = {
        "<dict><key>a</key><array><integer>1</integer><dict><key>z</key><true/></dict>"
        "<array><real>2.5</real></array></array><key>b</key><string>x</string>"
        "<key>c</key><array/><key>d</key><dict/></dict>",
        "<dict><key>b</key><integer>1</integer><key>a</key><array><integer>2</integer>"
        "</array></dict>",
        "<dict><key>m</key><array><integer>1</integer></array><key>a</key><true/></dict>",
        "<dict><key>a</key><integer>1</integer><key>a</key><integer>2</integer></dict>",
        "<dict><key>a</key><array><integer>1</integer></array><key>b</key><integer>x</integer>"
        "</dict>",
        "<dict><key>a</key><array><integer>1</integer></array><key>b</key></dict>",
        "<dict/>",
        "<array><dict><key>b</key><true/><key>a</key><false/></dict><integer>3</integer></array>",
        "<string>alone</string>",
    };
    std::vector<std::string> inputs;
    for (const auto& objects : lists)
        inputs.push_back(binaryPlist(objects));
    for (const std::string& body : bodies)
        inputs.push_back(xmlPlist(body));
    EXPECT_EQ(outcome(inputs[0], Format::json, true),
              "{\n  \"a\": \"x\",\n  \"b\": [\n    1,\n    2\n  ],\n  \"b\": {\n"
              "    \"k\": [\n      true\n    ]\n  },\n  \"c\": []\n}\n");
    for (const std::string& input : inputs)
        for (const Format format : {Format::json, Format::csv, Format::plist})
            EXPECT_EQ(outcome(input, format, true), outcome(input, format, false))
                << compact(Node::string(input));
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
    EXPECT_EQ(Plist::base64(""), "");
    EXPECT_EQ(Plist::base64("f"), "Zg==");
    EXPECT_EQ(Plist::base64("fo"), "Zm8=");
    EXPECT_EQ(Plist::base64("foo"), "Zm9v");
}

} // namespace
} // namespace lumatra
