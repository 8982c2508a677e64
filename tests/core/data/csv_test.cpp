#include "data/csv.h"

#include "data/data_converter.h"
#include "data/json.h"

#include <gtest/gtest.h>

namespace lumatra {
namespace {

using Rows = std::vector<CSV::Row>;

TEST(CsvDetect, CountsOnlyTheFirstRecordOutsideQuotes) {
    struct Case {
        std::string text;
        char delimiter;
    } cases[] = {
        {"a;b;c\nx,y,z,w,v,u", ';'},
        {"\"a,b,c\";d\n1,2,3", ';'}, // commas inside quotes do not count
        {"\"x\ny,z,w\";q\n", ';'},   // a record may span lines inside quotes
        {"a;b\r\nc,d,e,f", ';'},     // CR LF ends the first record
        {"a;b\rc,d,e,f", ';'},
        {"abc\n1,2", ','}, // nothing in the first record
        {"", ','},
        {"a\tb\tc\n1;2", '\t'},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CSV::detectDelimiter(c.text), c.delimiter) << c.text;
}

TEST(CsvParse, SplitsCellsRowsAndQuotes) {
    struct Case {
        std::string text;
        Rows rows;
    } cases[] = {
        {"a,\"b,c\",d", {{"a", "b,c", "d"}}},
        {"\"say \"\"hi\"\"\"", {{"say \"hi\""}}},
        {"\"a\"\"b\",\"c\"\"d\"x,\"e\"\n\"f\"\"\"", {{"a\"b", "c\"dx", "e"}, {"f\""}}},
        {"\"line\nbreak\r\n\",x", {{"line\nbreak\r\n", "x"}}},
        {"a,b\r\n", {{"a", "b"}}},
        {"a\nb\r\nc\rd", {{"a"}, {"b"}, {"c"}, {"d"}}},
        {"\n\na\n\r\n\rb\n\n", {{"a"}, {"b"}}}, // blank lines go
        {",\n", {{"", ""}}},                    // a lone delimiter is a row of two
        {"\"ab\"c,d", {{"abc", "d"}}},          // text after the closing quote joins
        {"a\"b,c", {{"a\"b", "c"}}},            // a quote inside a cell is text
        {"x,\"open", {{"x", "open"}}},          // an unclosed quote ends with the text
        {"\xEF\xBB\xBF"
         "a,b",
         {{"a", "b"}}},
        {"\"\"\n1", {{"1"}}}, // a quoted empty cell alone is a blank line too
        {"a,\n", {{"a", ""}}},
        {"", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CSV::parse(c.text, ','), c.rows) << c.text;
    EXPECT_EQ(CSV::parse("a;b,c\td", ';'), (Rows{{"a", "b,c\td"}}));
}

TEST(CsvObjects, HeaderNamesColumnsAndRowsFitTheHeader) {
    // Repeated names get a suffix no other column has: a reader that keeps one value per
    // key (a property list, a JSON library) would lose a column otherwise.
    struct Case {
        std::string text;
        std::string json;
    } cases[] = {
        {"a,,c\n1,x\n007,2,3,extra\n",
         R"([{"a":1,"column2":"x","c":""},{"a":"007","column2":2,"c":3}])"},
        {"only,header\n", "[]"},
        {"k,k,k\n1,2,3\n", R"([{"k":1,"k_2":2,"k_3":3}])"},
        {"a,a,a_2\n1,2,3\n", R"([{"a":1,"a_3":2,"a_2":3}])"},
        {",column1,\n1,2,3\n", R"([{"column1":1,"column1_2":2,"column3":3}])"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JSON::write(CSV::table(c.text, ','), 0, false), c.json) << c.text;
        // The streaming route names them alike.
        EXPECT_EQ(
            JSON::write(JSON::parse(DataConverter::convert(c.text, "csv", Format::json)), 0, false),
            c.json)
            << c.text;
    }
    EXPECT_EQ(CSV::table("", ','), Node::array());
}

TEST(CsvObjects, ShortJsonNumbersBecomeNumbers) {
    // Strict JSON number syntax (then one line end at most) in 15 characters at most.
    for (const char* cell : {"42", "-0.5", "1e10", "0", "1E-2", "0.25", "123456789012345", "42\n",
                             "42\r\n", "12345678901234\n"})
        EXPECT_TRUE(CSV::isNumberCell(cell)) << cell;
    for (const char* cell :
         {"007", "+1", "1.", ".5", "1,5", "", "-", "1e", "true", "null", "0x1", " 1", "1 ",
          "42\n\n", "1234567890123456", "123456789012345\n", "-12345678901234.5"})
        EXPECT_FALSE(CSV::isNumberCell(cell)) << cell;
}

TEST(CsvWrite, RecordsListsAndQuoting) {
    struct Case {
        std::string json;
        std::string table;
    } cases[] = {
        {R"([{"a":1},{"b":2}])", "a;b\r\n1;\r\n;2\r\n"},
        {R"([[1,2],[3]])", "1;2\r\n3\r\n"},
        {"42", "42\r\n"},
        {"[]", "\r\n"},
        {R"([[],"x",null])", "\r\nx\r\n\r\n"},
        {R"({"k":1,"k":2})", "k\r\n2\r\n"}, // one column per key; the last value wins
        {R"([{"t":true,"n":null,"f":false}])", "t;n;f\r\ntrue;;false\r\n"},
        {R"([{"x":{"x":1},"l":[1,"a"]}])", "x;l\r\n\"{\"\"x\"\":1}\";\"[1,\"\"a\"\"]\"\r\n"},
        {R"([{"s":"a;b","c":"a,b"}])", "s;c\r\n\"a;b\";a,b\r\n"},
        {R"([["l\nf","c\rr","q\"q"," pad "]])", "\"l\nf\";\"c\rr\";\"q\"\"q\"; pad \r\n"},
        {R"([{"a;b":1}])", "\"a;b\"\r\n1\r\n"},
        {R"([["abcdefghijk;l","abcdefghijklmnop\"q","abcdefghijklmnopq,"]])",
         "\"abcdefghijk;l\";\"abcdefghijklmnop\"\"q\";abcdefghijklmnopq,\r\n"},
        {R"([{"b":1,"a":2},{"a":3,"c":4}])", "b;a;c\r\n1;2;\r\n;3;4\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CSV::write(JSON::parse(c.json), ';'), c.table) << c.json;
}

} // namespace
} // namespace lumatra
