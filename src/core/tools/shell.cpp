#include "tools/shell.h"

#include "formats/convert_error.h"
#include "tools/line_splitter.h"
#include "tools/unique_fd.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
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

Pipe makePipe(const std::filesystem::path& executable) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw SystemError("Не удалось запустить", executable, errno);
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

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

    // The exit status, or the signal number when a signal ended the program.
    int wait() {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        return reaped(status);
    }

    // The status when the program has ended, without waiting for it.
    std::optional<int> poll() {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) != m_pid) return std::nullopt;
        return reaped(status);
    }

private:
    int reaped(int status) {
        std::lock_guard lock(m_mutex);
        m_reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
    }

    pid_t m_pid;
    std::mutex m_mutex;
    bool m_reaped = false;
};

pid_t spawn(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
            int outFd, int errFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);

    // The program starts with default signal handling and nothing blocked, whatever
    // the calling thread blocks, and in a process group of its own, so that a Ctrl-C at
    // the terminal reaches us and we decide what happens to it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int number : {SIGINT, SIGTERM, SIGPIPE, SIGUSR1, SIGUSR2, SIGHUP, SIGQUIT})
        sigaddset(&defaults, number);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                              POSIX_SPAWN_SETPGROUP);

    std::vector<char*> argv;
    std::string program = executable.filename().string();
    argv.push_back(program.data());
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int rc =
        ::posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) throw SystemError("Не удалось запустить", executable, rc);
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
    std::optional<int> status;
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
    if (*status != 0) {
        std::string message = executable.filename().string() + " завершился с кодом " +
                              std::to_string(*status) + "\n";
        const auto first =
            errLines.size() > shownErrorLines ? errLines.size() - shownErrorLines : 0;
        for (auto i = first; i < errLines.size(); ++i) {
            if (i > first) message += "\n";
            message += errLines[i];
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
