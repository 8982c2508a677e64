// The executable's entry: the mode is chosen before any GUI object exists, and only the
// window and the snapshot load the window module, with Qt.

#include "main/cli.h"
#include "main/gui_entry.h"

#include "converter/families.h"
#include "formats/convert_error.h"
#include "formats/format.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The window module's entry `symbol`; nothing, with the reason printed, when the module
// cannot be loaded.
template <typename Entry> Entry windowEntry(const char* symbol) {
    try {
        return reinterpret_cast<Entry>(lumatra::moduleEntry("window", symbol));
    } catch (const lumatra::ConvertError& error) {
        std::fprintf(stderr, "Ошибка: %s\n", error.errorDescription().c_str());
        return nullptr;
    }
}

// The elements after `at`, with a leading "--" left out: the file manager's paths, which
// are never taken for switches.
std::vector<std::string> filesAfter(std::vector<std::string>::const_iterator at,
                                    std::vector<std::string>::const_iterator end) {
    if (at != end && *at == "--") ++at;
    return {at, end};
}

} // namespace

int main(int argc, char** argv) {
    using namespace lumatra;
    const std::vector<std::string> arguments(argv, argv + argc);
    if (std::find_if(arguments.begin() + std::min(1, argc), arguments.end(),
                     [](const auto& a) { return a == "--help" || a == "-h"; }) != arguments.end()) {
        std::fputs(Main::usage().c_str(), stdout);
        return 0;
    }
    if (const auto file = Main::value(arguments, "--cli")) return Main::cli(arguments, *file);
    if (arguments.size() > 1 && arguments[1] == "--targets")
        return Main::listTargets(filesAfter(arguments.begin() + 2, arguments.end()));
    if (arguments.size() > 1 && arguments[1] == "--convert-to") {
        const auto format =
            argc > 2 ? formatFromRaw(lowercased(arguments[2])) : std::optional<Format>();
        if (!format) {
            std::fputs("Укажите формат: lumatra --convert-to ФОРМАТ ФАЙЛ…\n", stderr);
            return 2;
        }
        const auto convert =
            windowEntry<decltype(&lumatra_window_convert)>("lumatra_window_convert");
        if (!convert) return 1;
        return convert(argc, argv, *format, filesAfter(arguments.begin() + 3, arguments.end()));
    }
    if (const auto out = Main::value(arguments, "--snapshot")) {
        const auto at = std::find(arguments.begin(), arguments.end(), "--snapshot");
        const std::vector<std::string> files(at + 2, arguments.end());
        const auto snapshot =
            windowEntry<decltype(&lumatra_window_snapshot)>("lumatra_window_snapshot");
        if (!snapshot) return 1;
        return snapshot(argc, argv, *out, files);
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
    const auto run = windowEntry<decltype(&lumatra_window_run)>("lumatra_window_run");
    if (!run) return 1;
    return run(argc, argv,
               filesAfter(arguments.begin() + std::min<std::ptrdiff_t>(1, argc), arguments.end()));
}
