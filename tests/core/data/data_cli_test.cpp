// Unreadable data end to end: the built program's one error line, and nothing left.
#include "support/fixtures.h"

#include <gtest/gtest.h>

#ifdef LUMATRA_BINARY

namespace lumatra {
namespace {

using test::lastLine;
using test::runProgram;
using test::ScratchDir;
using test::writeFile;

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
