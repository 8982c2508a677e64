// The executable's entry: the mode is chosen before any GUI object exists.

#include "main/cli.h"
#include "main/gui_entry.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace lumatra;
    const std::vector<std::string> arguments(argv, argv + argc);
    if (const auto file = Main::value(arguments, "--cli")) return Main::cli(arguments, *file);
    if (const auto out = Main::value(arguments, "--snapshot")) {
        const auto at = std::find(arguments.begin(), arguments.end(), "--snapshot");
        const std::vector<std::string> files(at + 2, arguments.end());
        Main::snapshot(argc, argv, *out, files);
        return 0;
    }
    // Both would otherwise end in Qt aborting for want of a display.
    if (std::find(arguments.begin(), arguments.end(), "--cli") != arguments.end())
        return Main::cliWithoutFile();
    if (!Main::hasDisplay()) {
        std::fputs("Нет дисплея: окно Lumatra открыть негде. Без окна: lumatra --cli ФАЙЛ "
                   "--to ФОРМАТ\n",
                   stderr);
        return 1;
    }
    return Main::runWindow(
        argc, argv, {arguments.begin() + std::min<std::ptrdiff_t>(1, argc), arguments.end()});
}
