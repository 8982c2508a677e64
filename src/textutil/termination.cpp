#include "termination.h"

#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <thread>

namespace lumatra::textutil::Termination {
namespace {

std::mutex g_guard;
std::filesystem::path g_scratch;
std::filesystem::path g_partial;
std::filesystem::path g_socket;
std::atomic<int> g_child{-1};
std::atomic<bool> g_ending{false};
bool g_placed = false; // under g_guard

// The deadline's clock: the time it stood still, and since when it stands.
std::mutex g_clockLock;
std::condition_variable g_clockChanged;
int g_pauses = 0; // under g_clockLock
std::chrono::steady_clock::duration g_paused{};
std::chrono::steady_clock::time_point g_pausedSince;

sigset_t terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

void blockSignals() {
    const sigset_t set = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void startWatcher() {
    std::thread([] {
        const sigset_t set = terminationSignals();
        int signal = 0;
        while (sigwait(&set, &signal) != 0) {
        }
        endNow(128 + signal);
    }).detach();
}

void removeTree(const std::filesystem::path& path) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        std::error_code error;
        std::filesystem::remove_all(path, error);
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

namespace {

// The child goes first, so that nothing writes into what is removed next. A killed
// engine runs no more code; tearing down its memory may take the kernel a while, which
// is not waited for beyond a moment.
void endChild() {
    if (const int child = g_child.exchange(-1); child > 0) {
        ::kill(child, SIGKILL);
        for (int i = 0; i < 20 && ::waitpid(child, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// The caller holds g_guard.
[[noreturn]] void removeAndEnd(int status) {
    std::error_code ignored;
    if (!g_partial.empty()) removeTree(g_partial);
    if (!g_socket.empty()) std::filesystem::remove(g_socket, ignored);
    if (!g_scratch.empty()) removeTree(g_scratch);
    ::_exit(status);
}

} // namespace

void endNow(int status) {
    g_ending = true;
    endChild();
    g_guard.lock();
    removeAndEnd(status);
}

void startDeadline(std::chrono::milliseconds limit, std::function<void()> report) {
    const auto start = std::chrono::steady_clock::now();
    std::thread([start, limit, report = std::move(report)] {
        {
            std::unique_lock lock(g_clockLock);
            for (;;) {
                if (g_pauses > 0) {
                    g_clockChanged.wait(lock);
                    continue;
                }
                const auto due = start + limit + g_paused;
                if (std::chrono::steady_clock::now() >= due) break;
                g_clockChanged.wait_until(lock, due);
            }
        }
        g_guard.lock();
        if (g_placed) {
            g_guard.unlock();
            return;
        }
        // A placement that begins now waits for the lock, and never happens.
        g_ending = true;
        endChild();
        report();
        removeAndEnd(1);
    }).detach();
}

DeadlinePause::DeadlinePause() {
    const std::lock_guard lock(g_clockLock);
    if (g_pauses++ == 0) g_pausedSince = std::chrono::steady_clock::now();
}

DeadlinePause::~DeadlinePause() {
    const std::lock_guard lock(g_clockLock);
    if (--g_pauses == 0) {
        g_paused += std::chrono::steady_clock::now() - g_pausedSince;
        g_clockChanged.notify_all();
    }
}

void setPlaced() {
    g_placed = true; // the caller holds guard()
}

bool ending() {
    return g_ending;
}

void setChild(int pid) {
    g_child = pid;
}

void setSocket(const std::filesystem::path& path) {
    const std::lock_guard lock(g_guard);
    g_socket = path;
}

void setScratch(const std::filesystem::path& path) {
    const std::lock_guard lock(g_guard);
    g_scratch = path;
}

void setPartial(const std::filesystem::path& path) {
    g_partial = path; // the caller holds guard()
}

std::mutex& guard() {
    return g_guard;
}

} // namespace lumatra::textutil::Termination
