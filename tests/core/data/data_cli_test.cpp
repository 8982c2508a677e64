// The data routes end to end: the built program converts files given on its command line.
#include "support/fixtures.h"

#include <gtest/gtest.h>

#ifdef LUMATRA_BINARY

namespace lumatra {
namespace {

using test::lastLine;
using test::readFile;
using test::runProgram;
using test::ScratchDir;
using test::writeFile;

TEST(DataCli, ConvertsEveryDataRoute) {
    struct Case {
        std::string name, source, to, output, bytes;
    } cases[] = {
        {"data.json", R"([{"a":1,"b":[1,2]},{"a":"x;y","c":null}])", "csv", "data.csv",
         "\xEF\xBB\xBF"
         "a;b;c\r\n1;[1,2];\r\n\"x;y\";;\r\n"},
        {"table.csv", "name;n\nАня;007\nБорис;-0.5\n", "json", "table.json",
         "[\n  {\n    \"name\": \"Аня\",\n    \"n\": \"007\"\n  },\n"
         "  {\n    \"name\": \"Борис\",\n    \"n\": -0.5\n  }\n]\n"},
        {"table.tsv", "k,x\tv\n1,5\t2\n", "json", "table.json",
         "[\n  {\n    \"k,x\": \"1,5\",\n    \"v\": 2\n  }\n]\n"},
        {"Info.plist",
         "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>b</key><integer>-1</integer>"
         "<key>A</key><true/></dict></plist>",
         "json", "Info.json", "{\n  \"A\": true,\n  \"b\": -1\n}\n"},
        {"list.json", "[1, 2.5]", "plist", "list.plist",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<array>\n\t<integer>1</integer>\n\t<real>2.5</real>\n"
         "</array>\n</plist>\n"},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        writeFile(dir / c.name, c.source);
        const auto run =
            runProgram({LUMATRA_BINARY, "--cli", (dir / c.name).string(), "--to", c.to});
        EXPECT_EQ(run.status, 0) << c.name << run.out;
        EXPECT_TRUE(lastLine(run.out).starts_with("Готово: " + (dir / c.output).string() + " · "))
            << run.out;
        EXPECT_EQ(readFile(dir / c.output), c.bytes) << c.name;
    }
}

TEST(DataCli, UnreadableDataFailsAndLeavesNothing) {
    std::string nestedArrays = "<plist>";
    for (int i = 0; i < 200000; ++i)
        nestedArrays += "<array a=\"/>\">";
    struct Case {
        std::string name, source, to, line;
    } cases[] = {
        {"broken.json", "[1, 2 3]", "csv",
         "Ошибка: Ошибка в JSON (символ 7): ожидалось «,» или «]»"},
        {"nul.json", std::string("[\"a\0a\"]", 7), "plist",
         "Ошибка: Ошибка в JSON (символ 4): управляющий символ в строке"},
        {"deep.json", std::string(2000, '['), "csv",
         "Ошибка: Ошибка в JSON (символ 1025): слишком глубокая вложенность"},
        {"bytes.csv", "a\x98", "json", "Ошибка: Не удалось прочитать текст таблицы"},
        {"bad.plist", "<html>", "json", "Ошибка: Не удалось прочитать список свойств"},
        // 2.8 MB of arrays opened with an attribute that holds "/>".
        {"s.plist", nestedArrays, "json",
         "Ошибка: Не удалось прочитать список свойств: слишком глубокая вложенность"},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        writeFile(dir / c.name, c.source);
        const auto run =
            runProgram({LUMATRA_BINARY, "--cli", (dir / c.name).string(), "--to", c.to});
        EXPECT_EQ(run.status, 1) << c.name;
        EXPECT_EQ(lastLine(run.out), c.line);
        EXPECT_EQ(dir.entries(), std::vector<std::string>{c.name});
    }
}

} // namespace
} // namespace lumatra

#endif
