#include "data/data_converter.h"

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
        // 98 is the one byte Windows-1251 leaves unassigned.
        {"a\x98", "csv", "error: Не удалось прочитать текст таблицы"},
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

TEST(DataConverterConvert, StreamingGivesTheBytesOfReadThenWrite) {
    struct Case {
        std::string bytes, ext;
        Format format;
    } cases[] = {
        {R"([{"a":1,"b":"x;y"},{"b":2,"c":[1,{"d":null}]},{"e":true,"a":3}])", "json", Format::csv},
        {R"([{"k":1,"k":2},{"k":3}])", "json", Format::csv},
        {R"([{"a":1},[1,2],"s",null,{}])", "json", Format::csv}, // not all records
        {R"([[1,"a\nb"],[]])", "json", Format::csv},
        {R"({"a":1,"b":2})", "json", Format::csv},
        {"42", "json", Format::csv},
        {"[]", "json", Format::csv},
        {"[{},{}]", "json", Format::csv},
        {R"([{"a":1},{"b":2} x])", "json", Format::csv},
        {"[{\"a\":1},", "json", Format::csv},
        {"a,b,,d\n1,2\n\n-0.5,007,x,\"q\"\"\",extra\n", "csv", Format::json},
        {"name\tn\nАня\t1e5\n", "tsv", Format::json},
        {"only,header\n", "csv", Format::json},
        {"", "csv", Format::json},
        {",\n,\n", "csv", Format::json},
        {"\xC8\xEC\xFF;x\n1;\"\x98\"", "csv", Format::json},
        {"\xC8\xEC\xFF;x\n1;2", "csv", Format::json},
        {"k\n\"line\nbreak\\\"\"", "csv", Format::json},
        {"a,b\n1,2", "csv", Format::plist},
        // Objects at the top are written member by member from their places in the input.
        {R"({"b":[1,{"z":1,"a":2}],"a":"x","b":[],"c":{"n":null}})", "json", Format::plist},
        {R"( {"list":[1,2,3],"k":[[]]} )", "json", Format::plist},
        {"\xEF\xBB\xBF{\"a\":[1]}", "json", Format::plist},
        {"{}", "json", Format::plist},
        {R"({"a":[1,2 3]})", "json", Format::plist},
        {R"({"a":1} x)", "json", Format::plist},
        {R"({"a":"\u0001"})", "json", Format::plist},
        {R"([{"b":1,"a":2},[3]])", "json", Format::plist},
        {"[1]", "json", Format::pdf},
    };
    for (const Case& c : cases) {
        const std::string expected = outcome(
            [&] { return DataConverter::write(DataConverter::read(c.bytes, c.ext), c.format); });
        EXPECT_EQ(outcome([&] { return DataConverter::convert(c.bytes, c.ext, c.format); }),
                  expected)
            << c.bytes;
    }
}

} // namespace
} // namespace lumatra
