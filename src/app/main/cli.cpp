#include "main/cli.h"

#include "converter/converter.h"
#include "formats/byte_count.h"
#include "formats/convert_error.h"
#include "formats/format.h"
#include "tools/tools.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stop_token>
#include <thread>

namespace lumatra::Main {
namespace {

// Each line goes out whole: progress may be printed from the runner's reading thread.
void printLine(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
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
    std::error_code ignored;
    std::filesystem::path source = std::filesystem::absolute(file, ignored);
    if (source.empty()) source = file;

    const auto to = value(arguments, "--to");
    const auto format = to ? formatFromRaw(lowercased(*to)) : std::nullopt;
    if (!format) {
        printLine("Укажите --to. Для этого файла: " + joinedTargets(source));
        return 2;
    }

    Options options;
    if (const auto quality = value(arguments, "--quality"))
        options.quality = qualityFromRaw(*quality).value_or(Quality::balanced);
    if (const auto out = value(arguments, "--out"))
        options.outputDirectory = std::filesystem::absolute(*out, ignored);

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
