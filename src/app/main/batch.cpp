#include "main/batch.h"

#include "formats/byte_count.h"
#include "pool/conversion_pool.h"
#include "text/utf8.h"

#include <glib.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace lumatra::Main {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

void writeOut(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

// What the pool's workers report, taken over by the main thread, which alone prints.
class Board {
public:
    struct Finished {
        std::uint64_t ticket;
        ConversionPool::Outcome outcome;
    };

    void started(std::uint64_t ticket) {
        std::lock_guard lock(m_lock);
        m_running.push_back(ticket);
        m_progress[ticket] = 0;
    }
    void progress(std::uint64_t ticket, double fraction) {
        std::lock_guard lock(m_lock);
        if (const auto found = m_progress.find(ticket); found != m_progress.end())
            found->second = std::clamp(fraction, 0.0, 1.0);
    }
    void finished(std::uint64_t ticket, const ConversionPool::Outcome& outcome) {
        std::lock_guard lock(m_lock);
        std::erase(m_running, ticket);
        m_progress.erase(ticket);
        m_finished.push_back({ticket, outcome});
    }

    std::vector<Finished> takeFinished() {
        std::lock_guard lock(m_lock);
        return std::exchange(m_finished, {});
    }
    /// The fractions of the running conversions added up, and the running tickets in
    /// the order they started.
    std::pair<double, std::vector<std::uint64_t>> running() const {
        std::lock_guard lock(m_lock);
        double sum = 0;
        for (const auto& [ticket, fraction] : m_progress)
            sum += fraction;
        return {sum, m_running};
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::uint64_t> m_running;
    std::unordered_map<std::uint64_t, double> m_progress;
    std::vector<Finished> m_finished;
};

// At most `columns` characters of `text` (UTF-8), so that the line never wraps.
std::string clipped(const std::string& text, int columns) {
    int count = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) continue;
        if (++count > columns) return text.substr(0, at);
    }
    return text;
}

int terminalColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

} // namespace

bool isFolder(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error) && !kindOf(path);
}

std::vector<std::string> folderListing(const fs::path& folder) {
    struct Entry {
        std::string name;
        std::string key;
    };
    std::vector<Entry> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().native();
        if (name.empty() || name.front() == '.') continue;
        // Case folded first: the collation key alone keeps case apart in the C locale.
        const std::unique_ptr<char, decltype(&g_free)> folded(g_utf8_casefold(name.c_str(), -1),
                                                              g_free);
        const std::unique_ptr<char, decltype(&g_free)> key(
            g_utf8_collate_key_for_filename(folded.get(), -1), g_free);
        entries.push_back({std::move(name), key.get()});
    }
    if (error) throw SystemError("Не удалось прочитать папку", folder, error.value());
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.key != b.key ? a.key < b.key : a.name < b.name;
    });
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (auto& entry : entries)
        names.push_back(std::move(entry.name));
    return names;
}

std::string pathFromArgument(const std::string& argument) {
    if (!argument.starts_with("file://")) return argument;
    const std::unique_ptr<gchar, decltype(&g_free)> path(
        g_filename_from_uri(argument.c_str(), nullptr, nullptr), g_free);
    return path ? std::string(path.get()) : argument;
}

std::vector<BatchItem> batchItems(const std::vector<std::string>& inputs, Format target,
                                  std::vector<std::string>& skipped) {
    std::vector<BatchItem> items;
    const auto consider = [&](std::string shown, fs::path path) {
        std::error_code error;
        const bool exists = fs::exists(fs::symlink_status(path, error));
        // A missing file is left to the engine, which says so.
        if (exists && isFolder(path)) {
            skipped.push_back("Пропущен: " + shown + ": папка внутри папки");
            return;
        }
        const auto targets = targetsFor(path);
        if (exists && std::find(targets.begin(), targets.end(), target) == targets.end()) {
            skipped.push_back("Пропущен: " + shown + ": " +
                              (targets.empty()
                                   ? std::string("неизвестный тип файла")
                                   : "не конвертируется в " + std::string(title(target))));
            return;
        }
        items.push_back({std::move(shown), std::move(path), std::nullopt});
    };
    for (const std::string& input : inputs) {
        std::error_code error;
        fs::path path = fs::absolute(input, error);
        if (path.empty()) path = input;
        if (!isFolder(path)) {
            consider(input, path);
            continue;
        }
        try {
            for (const std::string& name : folderListing(path))
                consider((fs::path(input) / name).string(), path / name);
        } catch (const std::exception& failure) {
            items.push_back({input, path, "Ошибка: " + input + ": " + describe(failure)});
        }
    }
    return items;
}

int convertMany(const std::vector<std::string>& inputs, Format target, const Options& options,
                int budget) {
    const auto began = Clock::now();
    budget = std::max(1, budget);
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;

    std::vector<std::string> skipped;
    const std::vector<BatchItem> items = batchItems(inputs, target, skipped);
    for (const auto& line : skipped)
        writeOut(utf8::withControlsEscaped(line) + "\n");
    const int total = static_cast<int>(items.size());
    if (total == 0) {
        writeOut("Нечего конвертировать в " + std::string(title(target)) + "\n");
        return 1;
    }

    // A reader that went away must not end the conversions; our lines to it are lost.
    ::signal(SIGPIPE, SIG_IGN);
    // The signals are taken by this thread through sigwait; the pool's workers inherit
    // the blocked mask, and the process runner gives its programs default signals again.
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1})
        sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const pthread_t waiter = pthread_self();

    Board board;
    ConversionPool::Events events;
    events.started = [&](std::uint64_t ticket) { board.started(ticket); };
    events.progress = [&](std::uint64_t ticket, double fraction) {
        board.progress(ticket, fraction);
    };
    events.finished = [&](std::uint64_t ticket, const ConversionPool::Outcome& outcome) {
        board.finished(ticket, outcome);
        pthread_kill(waiter, SIGUSR1);
    };

    int done = 0;
    int ended = 0; // done, failed or stopped
    int failed = 0;
    bool stopping = false;
    std::string shownLine; // the progress line on the terminal, empty when none
    int lastStep = 0;      // the last ten-percent step printed elsewhere
    const auto print = [&](const std::string& line) {
        // A control character in a name is shown escaped: one line stays one line.
        writeOut((shownLine.empty() ? "" : "\r\033[K") + utf8::withControlsEscaped(line) + "\n");
        shownLine.clear();
    };

    std::vector<ConversionPool::Request> plan;
    for (const BatchItem& item : items) {
        if (item.failure) {
            print(*item.failure);
            ++ended;
            ++failed;
            continue;
        }
        const auto ticket = static_cast<std::uint64_t>(&item - items.data()) + 1;
        const bool video = takesEveryCore(kindOf(item.path), target);
        plan.push_back({ticket, item.path, target, video ? budget : 1, 0});
    }
    {
        ConversionPool pool(std::move(events), budget);
        pool.setOptions(options);
        pool.plan(std::move(plan));

        while (ended < total) {
            const timespec tick{0, 100'000'000};
            const int signal = sigtimedwait(&signals, nullptr, &tick);
            if (signal > 0 && signal != SIGUSR1 && !stopping) {
                // Nothing more starts; what runs stops and removes its unfinished output.
                stopping = true;
                pool.plan({});
                for (int ticket = 1; ticket <= total; ++ticket)
                    pool.cancel(ticket);
            }
            // Once no conversion runs, every outcome has reached the board.
            const bool settled = stopping && pool.idle();
            for (const auto& [ticket, outcome] : board.takeFinished()) {
                ++ended;
                const BatchItem& item = items[ticket - 1];
                switch (outcome.kind) {
                case ConversionPool::Outcome::Kind::done:
                    ++done;
                    print("Готово: " + outcome.result.output.string() + " · " +
                          formatByteCount(outcome.result.bytes) + " · " +
                          seconds(outcome.result.seconds) + " с");
                    break;
                case ConversionPool::Outcome::Kind::failed:
                    ++failed;
                    print("Ошибка: " + item.shown + ": " + outcome.message);
                    break;
                case ConversionPool::Outcome::Kind::cancelled:
                    break;
                }
            }
            // Stopped: the requests that never started end here.
            if (settled) break;
            const auto [runningSum, running] = board.running();

            const int percent = static_cast<int>(std::min(1.0, (ended + runningSum) / total) * 100);
            if (terminal) {
                std::string line = std::to_string(percent) + " % · " + std::to_string(ended) +
                                   " из " + std::to_string(total);
                if (stopping) {
                    line += " · останавливаю…";
                } else if (!running.empty()) {
                    line += " · " + items[running.back() - 1].path.filename().string();
                    if (running.size() > 1) line += " и ещё " + std::to_string(running.size() - 1);
                }
                line = clipped(line, terminalColumns() - 1);
                if (line != shownLine) {
                    writeOut("\r\033[K" + line);
                    shownLine = line;
                }
            } else if (!stopping && percent / 10 != lastStep / 10) {
                lastStep = percent;
                print("[" + std::to_string(percent) + "%]");
            }
        }
    }
    // The wake-up of the last outcome may still be pending, and would end the process.
    const timespec none{0, 0};
    while (sigtimedwait(&signals, nullptr, &none) > 0) {
    }
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);

    const auto elapsed = std::chrono::duration<double>(Clock::now() - began).count();
    const std::string summary = "Готово " + std::to_string(done) + " из " + std::to_string(total) +
                                " · " + seconds(elapsed) + " с";
    print(stopping ? "Остановлено. " + summary : summary);
    return done == total ? 0 : 1;
}

} // namespace lumatra::Main
