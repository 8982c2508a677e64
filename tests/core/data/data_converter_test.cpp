#include "data/data_converter.h"

#include "core/data/binary_plist.h"
#include "data/json.h"
#include "formats/convert_error.h"

#include <gtest/gtest.h>

#include <functional>

namespace lumatra {
namespace {

std::string compact(const Node& node) {
    return JSON::write(node, 0, false);
}

std::string outcome(const std::function<std::string()>& run) {
    try {
        return run();
    } catch (const ConvertError& error) {
        return "error: " + error.errorDescription();
    }
}

TEST(DataConverterRead, TablesDecodeAndSplitByExtensionOrFailWithTheirTexts) {
    struct Case {
        std::string bytes, ext, json;
    } cases[] = {
        // A TSV is split at tabs only, however many commas it holds.
        {"a,b\tc\n1,2\t3", "tsv", R"([{"a,b":"1,2","c":3}])"},
        {"a;b\n1;2,5", "csv", R"([{"a":1,"b":"2,5"}])"},
        {"a,b\n1,2", "txt", R"([{"a":1,"b":2}])"},
        // Not UTF-8, but Windows-1251: "Имя;Возраст" / "Иван;30".
        {"\xC8\xEC\xFF;\xC2\xEE\xE7\xF0\xE0\xF1\xF2\n\xC8\xE2\xE0\xED;30", "csv",
         R"([{"Имя":"Иван","Возраст":30}])"},
        {"\xEF\xBB\xBF"
         "x\n\xE2\x82\xAC",
         "csv", R"([{"x":"€"}])"},
        // One bad byte in UTF-8 is no Windows-1251: only that byte becomes U+FFFD.
        {"имя;город\nАня;Моск\xFF"
         "ва\n",
         "csv", "[{\"имя\":\"Аня\",\"город\":\"Моск\uFFFDва\"}]"},
        // Tabs and line breaks stay cell text; so does a vertical tab, a spreadsheet
        // cell's line break.
        {"a,b\n\"x\ty\",\"1\n2\"\nv\vw,3\n", "csv",
         R"([{"a":"x\ty","b":"1\n2"},{"a":"v\u000bw","b":3}])"},
        // 98 is the one byte Windows-1251 leaves unassigned; a zero byte is binary text.
        {"a\x98", "csv", "error: Не удалось прочитать текст таблицы"},
        {std::string("a,b\n1,\0\n", 8), "csv", "error: Не удалось прочитать текст таблицы"},
        {"", "plist", "error: Не удалось прочитать список свойств"},
        {"not a property list", "plist", "error: Не удалось прочитать список свойств"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(outcome([&] { return compact(DataConverter::read(c.bytes, c.ext)); }), c.json)
            << c.bytes;
}

TEST(DataConverterWrite, EachTargetHasItsFraming) {
    const Node tree = DataConverter::read(R"([{"n":-0.50E+3,"k":1,"k":2,"s":"a;b"}])", "json");
    EXPECT_EQ(DataConverter::write(tree, Format::json),
              "[\n  {\n    \"n\": -0.50E+3,\n    \"k\": 1,\n    \"k\": 2,\n    \"s\": \"a;b\"\n"
              "  }\n]\n");
    EXPECT_EQ(DataConverter::write(tree, Format::csv),
              "\xEF\xBB\xBFn;k;s\r\n-0.50E+3;2;\"a;b\"\r\n");
    EXPECT_TRUE(DataConverter::write(tree, Format::plist).starts_with("<?xml"));
    for (const Format format : {Format::pdf, Format::txt, Format::mp3})
        EXPECT_EQ(outcome([&] { return DataConverter::write(tree, format); }),
                  "error: Так конвертировать нельзя: данные → " + std::string(title(format)));
}

// Every source, streamed to every target, gives what reading it whole and writing the
// tree gives, failures included.
TEST(DataConverterConvert, StreamingGivesTheBytesOfReadThenWrite) {
    std::vector<std::pair<std::string, std::string>> inputs = {
        {R"([{"a":1,"b":"x;y"},{"b":2,"c":[1,{"d":null}]},{"e":true,"a":3}])", "json"},
        {R"([{"k":1,"k":2},{"k":3}])", "json"},
        {R"([{"a":1},[1,2],"s",null,{}])", "json"}, // not all records
        {R"([[1,"a\nb"],[]])", "json"},
        {R"({"a":1,"b":2})", "json"},
        {"42", "json"},
        {"[]", "json"},
        {"[{},{}]", "json"},
        {R"([{"a":1},{"b":2} x])", "json"},
        {"[{\"a\":1},", "json"},
        {"a,b,,d\n1,2\n\n-0.5,007,x,\"q\"\"\",extra\n", "csv"},
        {"name\tn\nАня\t1e5\n", "tsv"},
        {"only,header\n", "csv"},
        {"", "csv"},
        {",\n,\n", "csv"},
        {"\xC8\xEC\xFF;x\n1;\"\x98\"", "csv"},
        {"\xC8\xEC\xFF;x\n1;2", "csv"},
        {"k\n\"line\nbreak\\\"\"", "csv"},
        {"a,b\n1,2", "csv"},
        // Objects at the top are written member by member from their places in the input.
        {R"({"b":[1,{"z":1,"a":2}],"a":"x","b":[],"c":{"n":null}})", "json"},
        {R"( {"list":[1,2,3],"k":[[]]} )", "json"},
        {"\xEF\xBB\xBF{\"a\":[1]}", "json"},
        {"{}", "json"},
        {R"({"a":[1,2 3]})", "json"},
        {R"({"a":1} x)", "json"},
        {R"({"a":"\u0001"})", "json"},
        {R"([{"b":1,"a":2},[3]])", "json"},
    };
    const std::string a = test::ascii("a"), b = test::ascii("b"), c = test::ascii("c");
    const std::vector<std::string> lists[] = {
        // {"b":[1,2],"a":"x","c":[],"b" again:{"k":[true]}}, keys out of order
        {"\xD4\x01\x02\x03\x01\x04\x05\x06\x07", b, a, c, "\xA2\x08\x09", test::ascii("x"), "\xA0",
         "\xD1\x0A\x0B", "\x10\x01", "\x10\x02", test::ascii("k"), "\xA1\x0C", "\x09"},
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
    for (const auto& objects : lists)
        inputs.emplace_back(test::binaryPlist(objects), "plist");
    for (const std::string& body : bodies)
        inputs.emplace_back(R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0">)" +
                                body + "</plist>",
                            "plist");
    EXPECT_EQ(DataConverter::convert(test::binaryPlist(lists[0]), "plist", Format::json),
              "{\n  \"a\": \"x\",\n  \"b\": [\n    1,\n    2\n  ],\n  \"b\": {\n"
              "    \"k\": [\n      true\n    ]\n  },\n  \"c\": []\n}\n");
    for (const auto& [bytes, ext] : inputs)
        for (const Format format : {Format::json, Format::csv, Format::plist, Format::pdf}) {
            const std::string expected = outcome(
                [&] { return DataConverter::write(DataConverter::read(bytes, ext), format); });
            EXPECT_EQ(outcome([&] { return DataConverter::convert(bytes, ext, format); }), expected)
                << ext << " → " << rawValue(format) << ": " << bytes;
        }
}

} // namespace
} // namespace lumatra
