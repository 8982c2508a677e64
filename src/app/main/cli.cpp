#include "main/cli.h"

#include "converter/converter.h"
#include "formats/byte_count.h"
#include "formats/convert_error.h"
#include "formats/format.h"
#include "tools/tools.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
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

    // SIGINT, SIGTERM and SIGHUP are taken by this thread through sigwait and become a
    // cancellation; the worker inherits the blocked mask, and the process runner
    // unblocks them again for the programs it starts.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP); // the terminal went away
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

} // namespace lumatra::Main
