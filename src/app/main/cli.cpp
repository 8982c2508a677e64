#include "main/cli.h"

#include "main/batch.h"

#include "converter/converter.h"
#include "formats/byte_count.h"
#include "formats/convert_error.h"
#include "formats/format.h"
#include "text/utf8.h"
#include "tools/tools.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stop_token>
#include <thread>

namespace lumatra::Main {
namespace {

// Each line goes out whole: progress may be printed from the runner's reading thread.
// Names in a line (a result, a failure) may hold control characters: shown escaped,
// one line stays one line.
void printLine(const std::string& line) {
    std::fputs((utf8::withControlsEscaped(line) + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string joinedTargets(const std::filesystem::path& file) {
    std::string list;
    for (Format format : targetsFor(file)) {
        if (!list.empty()) list += ", ";
        list += rawValue(format);
    }
    return list;
}

// Prints "[N%]" at most once per ten-percent step; safe from any thread.
class ProgressPrinter {
public:
    void operator()(double fraction) {
        const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100);
        int last = m_lastPercent.load();
        do {
            if (percent / 10 == last / 10) return;
        } while (!m_lastPercent.compare_exchange_weak(last, percent));
        printLine("[" + std::to_string(percent) + "%]");
    }

private:
    std::atomic<int> m_lastPercent{0};
};

// Switches followed by their value.
constexpr std::string_view valueSwitches[] = {"--to", "--quality", "--out", "--jobs", "--snapshot"};

struct Invocation {
    std::vector<std::string> inputs;
    std::string unknownSwitch;
};

// The files and folders to convert: every element after the program that is neither a
// switch nor a switch's value, in the order given ("--cli" marks the first of them).
Invocation invocation(const std::vector<std::string>& arguments) {
    Invocation result;
    for (std::size_t at = 1; at < arguments.size(); ++at) {
        const std::string& element = arguments[at];
        if (element == "--cli") {
            if (at + 1 < arguments.size()) result.inputs.push_back(arguments[++at]);
        } else if (std::find(std::begin(valueSwitches), std::end(valueSwitches), element) !=
                   std::end(valueSwitches)) {
            ++at;
        } else if (element.starts_with("--")) {
            if (result.unknownSwitch.empty()) result.unknownSwitch = element;
        } else {
            result.inputs.push_back(element);
        }
    }
    return result;
}

constexpr int maximumJobs = 256;

std::string resultLine(const ConvertResult& result) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", result.seconds);
    return "Готово: " + result.output.string() + " · " + formatByteCount(result.bytes) + " · " +
           seconds + " с";
}

} // namespace

std::optional<std::string> value(const std::vector<std::string>& arguments, std::string_view flag) {
    const auto at = std::find(arguments.begin(), arguments.end(), flag);
    if (at == arguments.end() || at + 1 == arguments.end()) return std::nullopt;
    return *(at + 1);
}

int cli(const std::vector<std::string>& arguments, const std::string& file) {
    const Invocation call = invocation(arguments);
    if (!call.unknownSwitch.empty()) {
        printLine("Неизвестный ключ " + call.unknownSwitch + ". Справка: lumatra --help");
        return 2;
    }
    int budget = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    if (std::find(arguments.begin(), arguments.end(), "--jobs") != arguments.end()) {
        const std::string jobs = value(arguments, "--jobs").value_or("");
        const char* end = jobs.data() + jobs.size();
        const auto [at, error] = std::from_chars(jobs.data(), end, budget);
        if (jobs.empty() || error != std::errc() || at != end || budget < 1 ||
            budget > maximumJobs) {
            printLine("Укажите --jobs числом от 1 до " + std::to_string(maximumJobs));
            return 2;
        }
    }

    std::error_code ignored;
    std::filesystem::path source = std::filesystem::absolute(file, ignored);
    if (source.empty()) source = file;
    const bool several = call.inputs.size() > 1 || isFolder(source);

    const auto to = value(arguments, "--to");
    const auto format = to ? formatFromRaw(lowercased(*to)) : std::nullopt;
    if (!format) {
        // A file of a type nothing is made from: no list of targets, but the refusal the
        // conversion would give.
        if (!several && targetsFor(source).empty()) {
            printLine("Ошибка: " +
                      ConvertError::unsupported("неизвестный тип ." + pathExtension(source))
                          .errorDescription());
            return 1;
        }
        printLine(several ? "Укажите --to ФОРМАТ. Форматы: lumatra --help"
                          : "Укажите --to. Для этого файла: " + joinedTargets(source));
        return 2;
    }

    Options options;
    if (const auto quality = value(arguments, "--quality"))
        options.quality = qualityFromRaw(*quality).value_or(Quality::balanced);
    if (const auto out = value(arguments, "--out"))
        options.outputDirectory = std::filesystem::absolute(*out, ignored);
    if (several) return convertMany(call.inputs, *format, options, budget);

    // A reader that went away (`lumatra --cli … | head -1`) must not end the conversion:
    // our lines to it are lost, the result is still made.
    ::signal(SIGPIPE, SIG_IGN);
    // SIGINT, SIGTERM, SIGHUP and SIGQUIT are taken by this thread through sigwait and
    // become a cancellation; the worker inherits the blocked mask, and the process
    // runner gives the programs it starts default signals again.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP); // the terminal went away
    sigaddset(&signals, SIGQUIT);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::atomic<int> status{0};
    std::stop_source stop;
    const pthread_t waiter = pthread_self();
    std::thread worker([&] {
        ProgressPrinter printer;
        try {
            const Converter converter(Tools::locate());
            const auto result = converter.run(
                source, *format, options, [&](double fraction) { printer(fraction); },
                stop.get_token());
            printLine(resultLine(result));
        } catch (const std::exception& error) {
            printLine("Ошибка: " + describe(error));
            status = 1;
        }
        pthread_kill(waiter, SIGUSR1);
    });
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) continue;
        if (signal == SIGUSR1) break;
        stop.request_stop();
    }
    worker.join();
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    return status;
}

int listTargets(const std::vector<std::string>& inputs) {
    if (inputs.empty()) {
        std::fputs("Укажите файлы: lumatra --targets ФАЙЛ…\n", stderr);
        return 2;
    }
    std::vector<std::filesystem::path> files;
    for (const std::string& input : inputs) {
        const std::filesystem::path path = pathFromArgument(input);
        if (!isFolder(path)) {
            files.push_back(path);
            continue;
        }
        try {
            for (const std::string& name : folderListing(path))
                if (!isFolder(path / name)) files.push_back(path / name);
        } catch (const std::exception&) {
            // An unreadable folder offers nothing; converting it says why.
        }
    }
    // The formats shared by the files of `kind` (every file when none), in catalog order.
    const auto shared = [&](std::optional<Kind> kind) {
        std::vector<Format> common;
        bool first = true;
        for (const auto& file : files) {
            if (kind && kindOf(file) != kind) continue;
            const auto targets = targetsFor(file);
            if (first) {
                common = targets;
                first = false;
                continue;
            }
            std::erase_if(common, [&](Format format) {
                return std::find(targets.begin(), targets.end(), format) == targets.end();
            });
        }
        std::string lines;
        for (Format format : common)
            lines += std::string(rawValue(format)) + "\t" + std::string(title(format)) + "\n";
        return lines;
    };
    std::string text = shared(std::nullopt);
    if (text.empty())
        for (Kind kind : allKinds)
            if (const std::string lines = shared(kind); !lines.empty())
                text += "#\t" + std::string(title(kind)) + "\n" + lines;
    std::fputs(text.c_str(), stdout);
    return 0;
}

std::string usage() {
    std::string text =
        "Lumatra — конвертер файлов.\n"
        "\n"
        "Использование:\n"
        "  lumatra [ФАЙЛ…]   открыть окно с этими файлами\n"
        "  lumatra --cli ФАЙЛ… --to ФОРМАТ [--quality КАЧЕСТВО] [--out ПАПКА] [--jobs N]\n"
        "  lumatra --convert-to ФОРМАТ ФАЙЛ…   как из меню файлового менеджера\n"
        "  lumatra --targets ФАЙЛ…             во что можно конвертировать все эти файлы\n"
        "\n"
        "  --cli ФАЙЛ…         конвертировать без окна; папка — это её файлы (без скрытых\n"
        "                      и без вложенных папок), файлы другого рода пропускаются\n"
        "  --to ФОРМАТ         во что конвертировать; регистр букв не важен\n"
        "  --quality КАЧЕСТВО  best, balanced (обычно) или small\n"
        "  --out ПАПКА         куда сохранять; обычно рядом с исходным файлом\n"
        "  --jobs N            сколько ядер занять (обычно все); видео занимает все сразу\n"
        "  --convert-to ФОРМАТ конвертировать в фоне с качеством и папкой, выбранными\n"
        "                      в окне, и сообщать о ходе в уведомлениях; если окно\n"
        "                      открыто, файлы идут в него\n"
        "  -h, --help          эта справка\n"
        "\n"
        "Готовый файл получает свободное имя («a.mp3», «a 2.mp3»): прежние файлы\n"
        "не перезаписываются. Ctrl-C останавливает всё и убирает недоделанное.\n"
        "\n"
        "Форматы:\n";
    // What any file of the kind may become, in the catalog's order.
    for (Kind kind : allKinds) {
        std::vector<Format> served;
        for (std::string_view extension : kindExtensions(kind))
            for (Format format : targetsFor("x." + std::string(extension)))
                if (std::find(served.begin(), served.end(), format) == served.end())
                    served.push_back(format);
        std::string list;
        for (Format format : allFormats) {
            if (std::find(served.begin(), served.end(), format) == served.end()) continue;
            list += (list.empty() ? "" : ", ") + std::string(rawValue(format));
        }
        if (!list.empty()) text += "  " + std::string(title(kind)) + ": " + list + "\n";
    }
    text += "\n"
            "Код выхода: 0 — всё готово, 1 — ошибка или остановка, 2 — неверный вызов.\n";
    return text;
}

int cliWithoutFile() {
    printLine("Укажите файл: lumatra --cli ФАЙЛ --to ФОРМАТ");
    return 1;
}

bool hasDisplay() {
    const auto variable = [](const char* name) -> std::string {
        const char* value = std::getenv(name);
        return value ? value : "";
    };
    const auto exists = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0;
    };
    if (!variable("QT_QPA_PLATFORM").empty()) return true;
    if (const auto wayland = variable("WAYLAND_DISPLAY"); !wayland.empty()) {
        const auto runtime = variable("XDG_RUNTIME_DIR");
        if (wayland.front() == '/' ? exists(wayland) : exists(runtime + "/" + wayland)) return true;
    }
    const auto x = variable("DISPLAY");
    if (x.empty()) return false;
    // A local display ":N" or ":N.S" has its socket; others (host:N) are left to Qt.
    if (x.front() != ':') return true;
    const auto number = x.substr(1, x.find('.') == std::string::npos ? x.npos : x.find('.') - 1);
    return exists("/tmp/.X11-unix/X" + number);
}

} // namespace lumatra::Main
