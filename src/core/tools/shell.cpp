#include "tools/shell.h"

#include "formats/convert_error.h"
#include "tools/line_splitter.h"
#include "tools/tool_text.h"
#include "tools/unique_fd.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

extern char** environ;

namespace lumatra::Shell {
namespace {

constexpr std::size_t keptErrorLines = 50;
constexpr std::size_t shownErrorLines = 4;
// A program that ignores SIGTERM gets SIGKILL after this long.
constexpr auto terminationGrace = std::chrono::seconds(5);

struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

// Both ends lie above the standard descriptors, so that setting up the child's
// standard output and error never overwrites one of them.
Pipe makePipe(const std::filesystem::path& executable) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw SystemError("Не удалось запустить", executable, errno);
    Pipe pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
    for (UniqueFd* end : {&pipe.read, &pipe.write}) {
        if (end->get() > STDERR_FILENO) continue;
        const int moved = ::fcntl(end->get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (moved < 0) throw SystemError("Не удалось запустить", executable, errno);
        end->reset(moved);
    }
    return pipe;
}

// How a program ended.
struct Ending {
    bool bySignal = false;
    int number = 0; // the exit status, or the signal
};

// The started program and what may be done to it from another thread.
class Child {
public:
    explicit Child(pid_t pid) : m_pid(pid) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // Never leaves a zombie or a running orphan behind, even when reading failed.
    ~Child() {
        if (!m_reaped) {
            signal(SIGKILL);
            wait();
        }
    }

    void signal(int number) {
        std::lock_guard lock(m_mutex);
        // The program leads a process group of its own; what it started goes too.
        if (!m_reaped) ::kill(-m_pid, number);
    }

    Ending wait() {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        return reaped(status);
    }

    // How the program ended, when it has, without waiting for it.
    std::optional<Ending> poll() {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) != m_pid) return std::nullopt;
        return reaped(status);
    }

private:
    Ending reaped(int status) {
        std::lock_guard lock(m_mutex);
        m_reaped = true;
        if (WIFSIGNALED(status)) return {true, WTERMSIG(status)};
        return {false, WIFEXITED(status) ? WEXITSTATUS(status) : 0};
    }

    pid_t m_pid;
    std::mutex m_mutex;
    bool m_reaped = false;
};

// What the new child needs to become the program; it lives in the parent's memory,
// which the child shares until the program runs.
struct Launch {
    const char* executable;
    char* const* argv;
    char* const* environment;
    int outFd;
    int errFd;
    int reportFd;
    pid_t parent;
};

// The kernel's form of a signal action (the C library's differs).
struct KernelSignalAction {
    void (*handler)(int);
    unsigned long flags;
    void (*restorer)();
    std::uint64_t mask;
};

// Code that runs in the child is left uninstrumented: a sanitizer would record its stack
// and calls in the memory the child shares with us.
#define LUMATRA_CHILD_SIDE __attribute__((no_sanitize("address", "thread", "undefined")))

// Makes `to` refer to what `from` does.
LUMATRA_CHILD_SIDE bool moveOnto(long from, int to) {
    return from == to || ::syscall(SYS_dup3, from, to, 0) == to;
}

// In the new child, before its program runs. The child shares our memory and stack
// while the starting thread waits, so it touches nothing of ours but `Launch` and makes
// only bare system calls: no allocation, no lock, and nothing a library in between (a
// sanitizer's bookkeeping) would record in the memory we share.
[[noreturn]] LUMATRA_CHILD_SIDE void becomeProgram(const Launch& launch) {
    // A process group of its own, so that a Ctrl-C at the terminal reaches us and we
    // decide what happens to the program.
    ::syscall(SYS_setpgid, 0, 0);
    // The program dies with us, however we die. The signal is tied to the starting
    // thread, which waits for the program and so outlives it.
    ::syscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (::syscall(SYS_getppid) != launch.parent) ::syscall(SYS_exit_group, 127);
    // Default handling and nothing blocked, whatever we ignore (SIGPIPE) or block. The
    // child has a copy of our handlers: changing them here leaves ours alone.
    const KernelSignalAction defaults{SIG_DFL, 0, nullptr, 0};
    for (int number = 1; number < NSIG; ++number)
        if (number != SIGKILL && number != SIGSTOP)
            ::syscall(SYS_rt_sigaction, number, &defaults, nullptr, sizeof defaults.mask);
    const std::uint64_t none = 0;
    ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &none, nullptr, sizeof none);

    const long in = ::syscall(SYS_openat, AT_FDCWD, "/dev/null", O_RDONLY);
    const bool ready = in >= 0 && moveOnto(in, STDIN_FILENO) &&
                       moveOnto(launch.outFd, STDOUT_FILENO) &&
                       moveOnto(launch.errFd, STDERR_FILENO);
    // Nothing else of ours reaches the program: descriptors that other threads or
    // libraries opened without close-on-exec (the window's pipes, the engine's files)
    // would otherwise stay open in every program we start.
    if (ready) ::syscall(SYS_close_range, STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    const long failed = ready ? ::syscall(SYS_execve, launch.executable, launch.argv,
                                          launch.environment)
                              : -1;
    const int error = failed < 0 ? errno : 0;
    ::syscall(SYS_write, launch.reportFd, &error, sizeof error);
    ::syscall(SYS_exit_group, 127);
    __builtin_unreachable();
}

// Starts the child with vfork: it shares our memory and stack until its program runs,
// and this thread waits until then. Copying the page tables of a large process (the
// window holds a few hundred megabytes) would cost more than starting a short program.
pid_t startChild(const Launch& launch) {
    // No handler of ours may run in the child while it still shares our memory: every
    // signal stays blocked until the child has reset the handlers.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::vfork();
    if (pid == 0) becomeProgram(launch);
    const int error = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return pid;
}

pid_t spawn(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
            int outFd, int errFd) {
    std::vector<char*> argv;
    std::string program = executable.filename().string();
    argv.push_back(program.data());
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    // The child reports a failed exec through this pipe; a successful one closes it.
    Pipe report = makePipe(executable);
    Launch launch{.executable = executable.c_str(),
                  .argv = argv.data(),
                  .environment = environ,
                  .outFd = outFd,
                  .errFd = errFd,
                  .reportFd = report.write.get(),
                  .parent = ::getpid()};
    const pid_t pid = startChild(launch);
    if (pid < 0) throw SystemError("Не удалось запустить", executable, errno);
    ::setpgid(pid, pid); // also here, so that no signal to the group can miss it
    report.write.reset();
    int error = 0;
    ssize_t n = 0;
    while ((n = ::read(report.read.get(), &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (n == static_cast<ssize_t>(sizeof error)) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        throw SystemError("Не удалось запустить", executable, error);
    }
    return pid;
}

} // namespace

std::string run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                const LineHandler& onLine, std::stop_token stop) {
    Pipe out = makePipe(executable);
    Pipe err = makePipe(executable);
    Child child(spawn(executable, arguments, out.write.get(), err.write.get()));
    out.write.reset();
    err.write.reset();

    std::vector<std::string> outLines;
    std::deque<std::string> errLines;
    LineSplitter outSplitter([&](std::string&& line) {
        if (onLine) onLine(line);
        outLines.push_back(std::move(line));
    });
    LineSplitter errSplitter([&](std::string&& line) {
        errLines.push_back(std::move(line));
        if (errLines.size() > keptErrorLines) errLines.pop_front();
    });

    std::optional<std::chrono::steady_clock::time_point> terminatedAt;
    std::stop_callback onStop(stop, [&] { child.signal(SIGTERM); });

    pollfd fds[2] = {{out.read.get(), POLLIN, 0}, {err.read.get(), POLLIN, 0}};
    LineSplitter* splitters[2] = {&outSplitter, &errSplitter};
    int open = 2;
    char buffer[64 * 1024];
    // Reads until the program has ended and its pipes are drained. Something it started
    // may keep the pipes open after it ended; we do not wait for that.
    std::optional<Ending> status;
    const auto readAvailable = [&](int i) {
        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
            splitters[i]->feed({buffer, static_cast<std::size_t>(n)});
            return true;
        }
        if (n < 0 && errno == EINTR) return true;
        fds[i].fd = -1; // end of output, or nothing more to read after the end
        --open;
        return false;
    };
    while (open > 0) {
        if (stop.stop_requested()) {
            const auto now = std::chrono::steady_clock::now();
            if (!terminatedAt)
                terminatedAt = now;
            else if (now - *terminatedAt > terminationGrace)
                child.signal(SIGKILL);
        }
        const int ready = ::poll(fds, 2, 250);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0) {
            for (int i = 0; i < 2; ++i)
                if (fds[i].fd >= 0 && fds[i].revents != 0) readAvailable(i);
        }
        if (!status && (status = child.poll())) {
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0) continue;
                ::fcntl(fds[i].fd, F_SETFL, O_NONBLOCK);
                while (fds[i].fd >= 0 && readAvailable(i)) {
                }
            }
        }
    }
    outSplitter.finish();
    errSplitter.finish();
    if (!status) status = child.wait();

    if (stop.stop_requested()) throw CancelledError();
    if (status->bySignal || status->number != 0) {
        const std::string name = executable.filename().string();
        const std::string number = std::to_string(status->number);
        std::string message = status->bySignal
                                  ? name + " аварийно завершился (сигнал " + number + ")\n"
                                  : name + " завершился с кодом " + number + "\n";
        const auto first =
            errLines.size() > shownErrorLines ? errLines.size() - shownErrorLines : 0;
        for (auto i = first; i < errLines.size(); ++i) {
            if (i > first) message += "\n";
            message += cleanToolLine(errLines[i]);
        }
        throw ConvertError::failed(message);
    }
    std::string joined;
    for (std::size_t i = 0; i < outLines.size(); ++i) {
        if (i > 0) joined += "\n";
        joined += outLines[i];
    }
    return joined;
}

} // namespace lumatra::Shell
