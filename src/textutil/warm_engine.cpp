#include "warm_engine.h"

#include "isolation.h"
#include "office_profile.h"
#include "termination.h"
#include "tool_error.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

extern char** environ;

namespace lumatra::textutil::WarmEngine {
namespace {

constexpr int idleMilliseconds = 60 * 1000;
constexpr int conversionsPerEngine = 100;
constexpr std::size_t maxRequestBytes = 16 * 1024;

// A file descriptor closed when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

std::filesystem::path socketPath(const std::filesystem::path& folder) {
    return folder / "textutil.sock";
}

bool fillAddress(const std::filesystem::path& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (text.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return true;
}

bool peerIsUs(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
           credentials.uid == ::getuid();
}

int connectTo(const std::filesystem::path& folder) {
    sockaddr_un address{};
    if (!fillAddress(socketPath(folder), address)) return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        !peerIsUs(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Reads until the peer closes (or `limit` bytes); -1 ms waits for ever.
bool receiveAll(int fd, std::string& out, std::size_t limit, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[4096];
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            wait = static_cast<int>(left.count());
        }
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        out.append(buffer, static_cast<std::size_t>(n));
        if (out.size() > limit) return false;
        // A request ends with its fourth line; the peer waits for the answer.
        if (timeoutMs >= 0 && std::count(out.begin(), out.end(), '\n') >= 4) return true;
    }
}

pid_t startEngine() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    const std::string program = self.string();
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--serve"), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

// Connects to the engine, starting one when none answers. -1: no engine to be had.
int reachEngine(const std::filesystem::path& folder) {
    if (const int fd = connectTo(folder); fd >= 0) return fd;
    const pid_t child = startEngine();
    if (child < 0) return -1;
    // The engine listens before it loads LibreOffice, so it answers quickly; an engine
    // that ends (another one won the race, or it cannot start) gets a moment's grace
    // for the winner to answer.
    const auto start = std::chrono::steady_clock::now();
    std::optional<std::chrono::steady_clock::time_point> ended;
    for (;;) {
        if (const int fd = connectTo(folder); fd >= 0) return fd;
        const auto now = std::chrono::steady_clock::now();
        if (!ended && ::waitpid(child, nullptr, WNOHANG) == child) ended = now;
        if (ended && now - *ended > std::chrono::seconds(1)) return -1;
        if (now - start > std::chrono::seconds(5)) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Ends the engine at once when the run it works for goes away.
class HangupWatch {
public:
    explicit HangupWatch(int fd)
        : m_thread([this, fd] {
              while (!m_done) {
                  pollfd entry{fd, POLLRDHUP, 0};
                  if (::poll(&entry, 1, 50) > 0 && (entry.revents & (POLLRDHUP | POLLHUP)))
                      Termination::endNow(0);
              }
          }) {}
    ~HangupWatch() {
        m_done = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// What one connection asked for. A conversion of a document the engine could not open
// retires the engine: such a document can leave it unable to open the next one.
enum class Asked { nothing, conversion, retire, quit };

Asked answer(int client, Office& office) {
    std::string request;
    if (!receiveAll(client, request, maxRequestBytes, 5000)) return Asked::nothing;
    std::string lines[4];
    std::size_t at = 0;
    for (auto& line : lines) {
        const auto end = request.find('\n', at);
        if (end == std::string::npos) return Asked::nothing;
        line = request.substr(at, end - at);
        at = end + 1;
    }
    if (lines[0] == "quit") {
        sendAll(client, "ok\n");
        return Asked::quit;
    }
    const auto format = formatFromWord(lines[2]);
    if (lines[0] != "convert" || !format) return Asked::nothing;
    std::string reply = "ok\n";
    bool healthy = true;
    {
        const HangupWatch watch(client);
        try {
            office.convert(lines[1], *format, lines[3]);
        } catch (const ToolError& error) {
            reply = std::string("error\n") + error.what();
            healthy = !std::string_view(error.what()).starts_with(openFailure);
        }
    }
    sendAll(client, reply);
    return healthy ? Asked::conversion : Asked::retire;
}

} // namespace

std::optional<std::filesystem::path> folder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || runtime[0] != '/') return std::nullopt;
    struct stat info {};
    if (::stat(runtime, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid() ||
        (info.st_mode & 077) != 0)
        return std::nullopt;
    const auto path = std::filesystem::path(runtime) / "lumatra";
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid() ||
        (info.st_mode & 077) != 0)
        return std::nullopt;
    return path;
}

bool convert(const std::filesystem::path& input, OutputFormat format,
             const std::filesystem::path& result) {
    const auto place = folder();
    if (!place) return false;
    const std::string request =
        "convert\n" + input.string() + "\n" + formatWord(format) + "\n" + result.string() + "\n";
    if (std::count(request.begin(), request.end(), '\n') != 4) return false;
    const Descriptor engine(reachEngine(*place));
    if (engine.get() < 0 || !sendAll(engine.get(), request)) return false;
    std::string reply;
    if (!receiveAll(engine.get(), reply, maxRequestBytes, -1)) return false;
    if (reply == "ok\n") return true;
    if (reply.rfind("error\n", 0) == 0) throw ToolError(reply.substr(6));
    // The engine died on the way: convert cold.
    return false;
}

bool requestQuit() {
    const auto place = folder();
    if (!place) return false;
    const Descriptor engine(connectTo(*place));
    if (engine.get() < 0 || !sendAll(engine.get(), "quit\n\n\n\n")) return false;
    std::string reply;
    return receiveAll(engine.get(), reply, 16, 2000) && reply == "ok\n";
}

int serve() {
    ::close_range(3, ~0U, 0);
    Termination::blockSignals();
    enterPrivateNetwork();
    const auto place = folder();
    if (!place) return 1;
    // One engine per user: the lock is held for the engine's whole life.
    const Descriptor lock(
        ::open((*place / "textutil.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.get() < 0 || ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) return 0;
    // The lock file names the engine's process, for whoever needs to end it.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(lock.get(), 0) != 0 || ::write(lock.get(), pid.data(), pid.size()) < 0)
        return 1;

    // Work folders of engines that died without clearing up.
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(*place, error))
        if (entry.path().filename().string().rfind("engine-", 0) == 0)
            Termination::removeTree(entry.path());
    const auto work = *place / ("engine-" + std::to_string(::getpid()));
    std::filesystem::remove_all(work, error);
    if (::mkdir(work.c_str(), 0700) != 0) return 1;
    Termination::setScratch(work);
    const auto socket = socketPath(*place);
    sockaddr_un address{};
    const Descriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ::unlink(socket.c_str());
    if (listener.get() < 0 || !fillAddress(socket, address) ||
        ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 16) != 0)
        Termination::endNow(1);
    Termination::setSocket(socket);
    Termination::startWatcher();

    std::filesystem::create_directory(work / "tmp", error);
    ::setenv("TMPDIR", (work / "tmp").c_str(), 1);
    std::unique_ptr<Office> office;
    try {
        office = startOffice(work / "profile").office;
    } catch (const ToolError&) {
        // Waiting runs see the connection close and convert cold.
        Termination::endNow(1);
    }
    // After a quit request the engine serves only the runs already waiting.
    bool quitting = false;
    for (int served = 0; served < conversionsPerEngine;) {
        pollfd entry{listener.get(), POLLIN, 0};
        const int ready = ::poll(&entry, 1, quitting ? 0 : idleMilliseconds);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        const Descriptor client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (client.get() < 0 || !peerIsUs(client.get())) continue;
        switch (answer(client.get(), *office)) {
        case Asked::nothing:
            break;
        case Asked::conversion:
            ++served;
            break;
        case Asked::retire:
            served = conversionsPerEngine;
            break;
        case Asked::quit:
            quitting = true;
            break;
        }
    }
    Termination::endNow(0);
}

} // namespace lumatra::textutil::WarmEngine
