#include "termination.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

namespace lumatra::textutil::Termination {
namespace {

std::mutex g_guard;
std::filesystem::path g_scratch;
std::filesystem::path g_partial;
std::filesystem::path g_socket;

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

void endNow(int status) {
    g_guard.lock();
    std::error_code ignored;
    if (!g_partial.empty()) std::filesystem::remove_all(g_partial, ignored);
    if (!g_socket.empty()) std::filesystem::remove(g_socket, ignored);
    if (!g_scratch.empty()) std::filesystem::remove_all(g_scratch, ignored);
    ::_exit(status);
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
