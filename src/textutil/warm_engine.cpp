#include "warm_engine.h"

#include "isolation.h"
#include "office_profile.h"
#include "termination.h"
#include "tool_error.h"

#include "tools/private_folders.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
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
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace lumatra::textutil::WarmEngine {
namespace {

constexpr int maxEngines = 4;
constexpr int idleMilliseconds = 60 * 1000;
constexpr int conversionsPerEngine = 100;
constexpr std::size_t maxRequestBytes = 16 * 1024;
constexpr int quitAnswerMilliseconds = 2000;
// How long a run waits for a busy engine before it converts cold: about what starting an
// engine of its own costs.
constexpr auto busyWait = std::chrono::seconds(2);

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
    void reset(int fd) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// "textutil-1.sock" and the like: the files of one slot.
std::filesystem::path slotFile(const std::filesystem::path& folder, int slot,
                               std::string_view ending) {
    return folder / ("textutil-" + std::to_string(slot) + std::string(ending));
}

std::filesystem::path socketPath(const std::filesystem::path& folder, int slot) {
    return slotFile(folder, slot, ".sock");
}

// One engine per core, within what memory allows.
int engineCount() {
    const auto cores = static_cast<int>(std::min(std::thread::hardware_concurrency(), 64U));
    return std::clamp(cores, 1, maxEngines);
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

int connectTo(const std::filesystem::path& socket) {
    sockaddr_un address{};
    if (!fillAddress(socket, address)) return -1;
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

pid_t startEngine(int slot) {
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
    std::string number = std::to_string(slot);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--serve"), number.data(),
                    nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

// Takes the busy lock of a slot no other run is using, trying them in order so that a
// run alone keeps to the first engine. When every slot is in use, waits a moment for one
// to come free (the time limit stands still meanwhile: the wait is not the document's).
// The slot, or -1: none came free, and the run converts cold rather than wait longer.
int takeSlot(const std::filesystem::path& folder, Descriptor& busy) {
    const int count = engineCount();
    const auto tryAll = [&] {
        for (int slot = 0; slot < count; ++slot) {
            busy.reset(::open(slotFile(folder, slot, ".busy").c_str(),
                              O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
            if (busy.get() < 0) return -2;
            if (::flock(busy.get(), LOCK_EX | LOCK_NB) == 0) return slot;
        }
        return -1;
    };
    int slot = tryAll();
    if (slot != -1) return std::max(slot, -1); // a slot, or no lock file to be had
    const Termination::DeadlinePause waiting;
    const auto giveUp = std::chrono::steady_clock::now() + busyWait;
    while (slot == -1 && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        slot = tryAll();
    }
    if (slot >= 0) return slot;
    busy.reset(-1);
    return -1;
}

// Connects to the slot's engine, starting one when none answers. -1: no engine to be had.
int reachEngine(const std::filesystem::path& folder, int slot) {
    using Clock = std::chrono::steady_clock;
    const auto socket = socketPath(folder, slot);
    if (const int fd = connectTo(socket); fd >= 0) return fd;
    // The engine listens before it loads LibreOffice, so it answers quickly. One that
    // finds the slot's lock taken ends at once with status 0: another engine of the slot
    // is starting (and answers in a moment) or ending after its last conversion (and
    // gone in a moment), so another is started a little later. One that fails otherwise
    // gets a moment's grace, in case another run's engine answers after all.
    const auto start = Clock::now();
    pid_t child = startEngine(slot);
    if (child < 0) return -1;
    constexpr auto never = Clock::time_point::max();
    auto lost = never;   // when the last engine started found the slot taken
    auto failed = never; // when it failed
    for (;;) {
        if (const int fd = connectTo(socket); fd >= 0) return fd;
        const auto now = Clock::now();
        if (now - start > std::chrono::seconds(5)) return -1;
        int status = 0;
        if (child > 0 && ::waitpid(child, &status, WNOHANG) == child) {
            child = -1;
            (WIFEXITED(status) && WEXITSTATUS(status) == 0 ? lost : failed) = now;
        }
        if (failed != never && now - failed > std::chrono::seconds(1)) return -1;
        if (lost != never && now - lost > std::chrono::milliseconds(100)) {
            lost = never;
            child = startEngine(slot);
            if (child < 0) return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Ends the engine at once when the run it works for goes away. Its end wakes the
// watching thread at once, so that the answer is not held up.
class HangupWatch {
public:
    explicit HangupWatch(int fd)
        : m_wake(::eventfd(0, EFD_CLOEXEC)), m_thread([this, fd] {
              while (!m_done) {
                  pollfd entries[] = {{fd, POLLRDHUP, 0}, {m_wake.get(), POLLIN, 0}};
                  // Without a wake-up descriptor the thread looks at m_done now and then.
                  const int ready =
                      ::poll(entries, m_wake.get() >= 0 ? 2 : 1, m_wake.get() >= 0 ? -1 : 50);
                  if (ready > 0 && (entries[0].revents & (POLLRDHUP | POLLHUP)))
                      Termination::endNow(0);
              }
          }) {}
    ~HangupWatch() {
        m_done = true;
        if (m_wake.get() >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto written = ::write(m_wake.get(), &one, sizeof one);
        }
        m_thread.join();
    }
    HangupWatch(const HangupWatch&) = delete;
    HangupWatch& operator=(const HangupWatch&) = delete;

private:
    std::atomic<bool> m_done{false};
    const Descriptor m_wake;
    std::thread m_thread;
};

// What one connection asked for. A conversion of a document the engine could not open
// retires the engine: such a document can leave it unable to open the next one.
enum class Asked { nothing, conversion, retire, quit };

struct Answer {
    Asked asked = Asked::nothing;
    std::string reply; // none for a request not understood
};

Answer answer(int client, Office& office) {
    std::string request;
    if (!receiveAll(client, request, maxRequestBytes, 5000)) return {};
    std::string lines[4];
    std::size_t at = 0;
    for (auto& line : lines) {
        const auto end = request.find('\n', at);
        if (end == std::string::npos) return {};
        line = request.substr(at, end - at);
        at = end + 1;
    }
    if (lines[0] == "quit") return {Asked::quit, "ok\n"};
    const auto format = formatFromWord(lines[2]);
    if (lines[0] != "convert" || !format) return {};
    const HangupWatch watch(client);
    try {
        office.convert(lines[1], *format, lines[3]);
    } catch (const ToolError& error) {
        const bool healthy = !std::string_view(error.what()).starts_with(openFailure);
        return {healthy ? Asked::conversion : Asked::retire, std::string("error\n") + error.what()};
    }
    return {Asked::conversion, "ok\n"};
}

} // namespace

std::optional<std::filesystem::path> folder() {
    const auto runtime = privateRuntimeFolder();
    if (!runtime) return std::nullopt;
    const auto path = *runtime / "lumatra";
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    if (!isPrivateFolder(path)) return std::nullopt;
    return path;
}

bool convert(const std::filesystem::path& input, OutputFormat format,
             const std::filesystem::path& result) {
    const auto place = folder();
    if (!place) return false;
    const std::string request =
        "convert\n" + input.string() + "\n" + formatWord(format) + "\n" + result.string() + "\n";
    if (std::count(request.begin(), request.end(), '\n') != 4) return false;
    // The slot stays ours until the answer is in.
    Descriptor busy;
    const int slot = takeSlot(*place, busy);
    if (slot < 0) return false;
    const Descriptor engine(reachEngine(*place, slot));
    if (engine.get() < 0 || !sendAll(engine.get(), request)) return false;
    std::string reply;
    if (!receiveAll(engine.get(), reply, maxRequestBytes, -1)) return false;
    if (reply == "ok\n") return true;
    if (reply.rfind("error\n", 0) == 0) throw ToolError(reply.substr(6));
    // The engine died on the way: convert cold.
    return false;
}

bool warmUp(int wanted) {
    const auto place = folder();
    if (!place) return false;
    const int count = std::min(wanted, engineCount());
    for (int slot = 0; slot < count; ++slot) {
        // A slot whose lock is held has its engine, alive or starting.
        const Descriptor lock(
            ::open(slotFile(*place, slot, ".lock").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (lock.get() >= 0 && ::flock(lock.get(), LOCK_SH | LOCK_NB) != 0) continue;
        // The engine outlives this run; it is nobody's child to wait for once we end.
        startEngine(slot);
    }
    return true;
}

bool requestQuit() {
    const auto place = folder();
    if (!place) return false;
    // Every slot there may be (another core count may have started more), all asked
    // before any answer is awaited, so that busy engines are not waited for in turn.
    std::vector<std::unique_ptr<Descriptor>> asked;
    for (int slot = 0; slot < maxEngines; ++slot) {
        auto engine = std::make_unique<Descriptor>(connectTo(socketPath(*place, slot)));
        if (engine->get() >= 0 && sendAll(engine->get(), "quit\n\n\n\n"))
            asked.push_back(std::move(engine));
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(quitAnswerMilliseconds);
    bool taken = false;
    for (const auto& engine : asked) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        std::string reply;
        if (receiveAll(engine->get(), reply, 16,
                       std::max<int>(1, static_cast<int>(left.count()))) &&
            reply == "ok\n")
            taken = true;
    }
    return taken;
}

int serve(int slot) {
    ::close_range(3, ~0U, 0);
    Termination::blockSignals();
    enterPrivateNetwork();
    const auto place = folder();
    if (!place || slot < 0 || slot >= maxEngines) return 1;
    // One engine per slot: the slot's lock is held for the engine's whole life.
    const Descriptor lock(::open(slotFile(*place, slot, ".lock").c_str(),
                                 O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (lock.get() < 0 || ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) return 0;
    // The lock file names the engine's process, for whoever needs to end it.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(lock.get(), 0) != 0 || ::write(lock.get(), pid.data(), pid.size()) < 0)
        return 1;

    // The slot's work folder, as an earlier engine of the slot may have left it: holding
    // the slot's lock proves that engine gone. The other slots' folders belong to engines
    // that may be at work, and are theirs to clear.
    std::error_code error;
    const auto work = *place / ("engine-" + std::to_string(slot));
    Termination::removeTree(work);
    if (::mkdir(work.c_str(), 0700) != 0) return 1;
    Termination::setScratch(work);
    const auto socket = socketPath(*place, slot);
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
        const Answer given = answer(client.get(), *office);
        switch (given.asked) {
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
        // Before its last answer the engine takes its socket away, so that the slot's
        // next run starts a new engine rather than reaching this one as it ends.
        if (served >= conversionsPerEngine) {
            Termination::setSocket({});
            ::unlink(socket.c_str());
        }
        sendAll(client.get(), given.reply);
    }
    Termination::endNow(0);
}

} // namespace lumatra::textutil::WarmEngine
