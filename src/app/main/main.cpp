// The executable's entry: the mode is chosen before any GUI object exists.

#include "main/cli.h"
#include "main/gui_entry.h"

#include <algorithm>
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
    return Main::runWindow(
        argc, argv, {arguments.begin() + std::min<std::ptrdiff_t>(1, argc), arguments.end()});
}
