#include "data/json.h"

#include "formats/convert_error.h"

#include <gtest/gtest.h>

namespace lumatra {
namespace {

std::string parseError(const std::string& input) {
    try {
        JSON::parse(input);
    } catch (const ConvertError& error) {
        EXPECT_EQ(error.errorCase(), ConvertError::Case::failed);
        return error.errorDescription();
    }
    return "(parsed)";
}

std::string compact(const std::string& input) {
    return JSON::write(JSON::parse(input), 0, false);
}

TEST(JsonParse, ErrorsNameTheFirstBadByteCountedFromOne) {
    const std::string deep = std::string(1025, '[') + std::string(1025, ']');
    std::string objects;
    for (int i = 0; i < 1025; ++i)
        objects += "{\"a\":";
    struct Case {
        std::string input;
        std::string message;
    } cases[] = {
        {"", "1): файл оборвался"},
        {" \t\r\n", "5): файл оборвался"},
        {"\xEF\xBB\xBF", "1): файл оборвался"}, // positions start after the mark
        {"\xEF\xBB\xBF[1 2]", "4): ожидалось «,» или «]»"},
        {"[", "2): файл оборвался"},
        {"[1", "3): файл оборвался"},
        {"{\"a\":1", "7): файл оборвался"},
        {"[1,]", "4): непонятное значение"},
        {"[1 2]", "4): ожидалось «,» или «]»"},
        {"{\"a\":1,}", "8): ожидался ключ"},
        {"{", "2): ожидался ключ"},
        {"{1:2}", "2): ожидался ключ"},
        {"{\"a\" 1}", "6): ожидалось «:»"},
        {"{\"a\":1 2}", "8): ожидалось «,» или «}»"},
        {"truex", "5): лишние символы"},
        {"1 2", "3): лишние символы"},
        {"tru", "1): ожидалось true"},
        {"[fals]", "2): ожидалось false"},
        {"nul", "1): ожидалось null"},
        {"1e", "3): непонятное значение"},
        {"1.2.3", "6): непонятное значение"},
        {"-", "2): непонятное значение"},
        {"x", "1): непонятное значение"},
        {"]", "1): непонятное значение"},
        {"\"abc", "5): строка не закрыта"},
        {"\"ab\\", "5): строка не закрыта"},
        {"\"\\u12\"", "4): плохой \\u"},
        {"\"\\u12g4\"", "4): плохой \\u"},
        {"\"\\u-001\"", "4): плохой \\u"},
        {"\"\\ud83d\\u12\"", "10): плохой \\u"},
        // Bytes, not characters: six Cyrillic letters move the error six places on.
        {"[\"abcdef\" x]", "11): ожидалось «,» или «]»"},
        {"[\"абвгде\" x]", "17): ожидалось «,» или «]»"},
        {deep, "1025): слишком глубокая вложенность"},
        // Control characters stand in strings only as escapes: raw, wherever they are
        // (past a run of eight plain bytes, after a backslash, in a key), they are errors.
        {std::string("[\"a\0a\"]", 6), "4): управляющий символ в строке"},
        {std::string("[\"\\\0\"]", 5), "4): управляющий символ в строке"},
        {"[\"\va\"\f]", "3): управляющий символ в строке"},
        {"\"abcdefghijklmnop\x1F\"", "18): управляющий символ в строке"},
        {"\"абвгд\tе\"", "12): управляющий символ в строке"},
        {"\"line\nbreak\"", "6): управляющий символ в строке"},
        {"{\"k\x01\":1}", "4): управляющий символ в строке"},
        {"\"escaped \\u0001\\t\\n\" \x01", "22): лишние символы"},
        {objects, "5121): слишком глубокая вложенность"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseError(c.input), "Ошибка в JSON (символ " + c.message) << c.input;
}

TEST(JsonParse, KeepsNumberTextsKeyOrderAndDuplicates) {
    struct Case {
        std::string input, written;
    } cases[] = {
        {"-0.50E+3", "-0.50E+3"},
        {"[+1, 01, .5, 5., 1e999, -0]", "[+1,01,.5,5.,1e999,-0]"},
        {"{\"k\":1,\"k\":2,\"a\":[true,false,null]}", "{\"k\":1,\"k\":2,\"a\":[true,false,null]}"},
        {" \"top\" ", "\"top\""},
        {"\xEF\xBB\xBF 42", "42"},
        {"[[],{},[{}]]", "[[],{},[{}]]"},
        {std::string(1024, '[') + std::string(1024, ']'),
         std::string(1024, '[') + std::string(1024, ']')},
    };
    for (const Case& c : cases)
        EXPECT_EQ(compact(c.input), c.written) << c.input;
}

TEST(JsonParse, DecodesEscapesAndRepairsText) {
    struct Case {
        std::string input, text;
    } cases[] = {
        {R"("\ud83d\ude00")", "\U0001F600"},
        {R"("\u00e9\u0416")", "éЖ"},
        {R"("\ud83d")", "?"},
        {R"("\ude00")", "?"},
        {R"("\ud83dx")", "?x"},
        // A high surrogate before an escape that is no low surrogate: "?", then the
        // second escape on its own (which may itself pair with a third).
        {R"("\ud83d\u0041")", "?A"},
        {R"("\ud83d\ud83d\ude00")", "?\U0001F600"},
        {R"("\ud83d\ud83d")", "??"},
        {R"("\u+041")", "A"},
        {R"("\u-000")", std::string(1, '\0')},
        {R"("\q\/\"\\\b\f\n\r\t")", "q/\"\\\b\f\n\r\t"},
        {"\"a\xFF"
         "b\"",
         "a\xEF\xBF\xBD"
         "b"},
        {"\"\xE2\x82\"", "\xEF\xBF\xBD"}, // a cut-off sequence is one U+FFFD
        {"\"\xED\xA0\x80\"", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // a surrogate, three
        {"\"\xC3\\u00a9\"", "\xEF\xBF\xBD\xC2\xA9"}, // a raw lead byte before an escape
    };
    for (const Case& c : cases) {
        const Node node = JSON::parse(c.input);
        ASSERT_TRUE(node.isString()) << c.input;
        EXPECT_EQ(node.text(), c.text) << c.input;
    }
}

TEST(JsonWrite, QuoteEscapesOnlyWhatJsonNeeds) {
    struct Case {
        std::string text, quoted;
    } cases[] = {
        {"say \"hi\" \\", R"("say \"hi\" \\")"},
        {"\n\r\t", R"("\n\r\t")"},
        {"\x01\x08\x1f", R"("\u0001\u0008\u001f")"},
        {"/\x7f", "\"/\x7f\""},
        {"Привет 😀", "\"Привет 😀\""},
        {"bad\xC0", "\"bad\xEF\xBF\xBD\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JSON::quote(c.text), c.quoted);
}

} // namespace
} // namespace lumatra
