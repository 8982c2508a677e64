#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QVariant>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace lumatra {
namespace fs = std::filesystem;

namespace {

// A message opens with one of these lines; each path follows ended by a NUL byte, and an
// empty path ends the message. The receiver answers with one byte once it took the
// files. The conversion's line names its target: "lumatra-convert 1 mp3".
constexpr std::string_view greeting = "lumatra-open 1\n";
constexpr std::string_view conversionGreeting = "lumatra-convert 1 ";
constexpr qsizetype longestGreeting = 64;
constexpr char confirmation = 'k';
// A message larger than this, or slower than the time below, is dropped.
constexpr qsizetype largestMessage = 16 * 1024 * 1024;
constexpr int slowestMessageMs = 5000;

// Closes a file descriptor when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

bool sendAll(int fd, std::string_view data, std::chrono::steady_clock::time_point deadline) {
    while (!data.empty()) {
        pollfd ready{fd, POLLOUT, 0};
        const int polled = ::poll(&ready, 1, remainingMs(deadline));
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) return false;
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (sent <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

} // namespace

std::optional<fs::path> instanceSocketPath() {
    const auto folder = privateRuntimeFolder();
    if (!folder) return std::nullopt;
    return *folder / "lumatra.socket";
}

std::optional<fs::path> conversionSocketPath() {
    const auto folder = privateRuntimeFolder();
    if (!folder) return std::nullopt;
    return *folder / "lumatra-convert.socket";
}

namespace {

bool sendMessage(const fs::path& socketPath, std::string message,
                 const std::vector<std::string>& paths, std::chrono::milliseconds limit) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.native().size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.native().size());

    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return false;
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return false;
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) | O_NONBLOCK);

    std::error_code ignored;
    for (const std::string& path : paths) {
        if (path.empty() || path.find('\0') != std::string::npos) continue;
        message += fs::absolute(path, ignored).lexically_normal().native();
        message += '\0';
    }
    message += '\0';

    const auto deadline = std::chrono::steady_clock::now() + limit;
    if (!sendAll(fd.get(), message, deadline)) return false;
    for (;;) {
        pollfd ready{fd.get(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, remainingMs(deadline));
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) return false;
        char answer = 0;
        const ssize_t got = ::recv(fd.get(), &answer, 1, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return got == 1 && answer == confirmation;
    }
}

} // namespace

bool forwardToRunningInstance(const std::vector<std::string>& paths,
                              std::chrono::milliseconds limit) {
    const auto socketPath = instanceSocketPath();
    return socketPath && sendMessage(*socketPath, std::string(greeting), paths, limit);
}

bool forwardConversion(const fs::path& socketPath, const std::vector<std::string>& paths,
                       const std::string& target, std::chrono::milliseconds limit) {
    if (target.empty() || target.find_first_of(std::string_view("\n\0", 2)) != std::string::npos)
        return false;
    return sendMessage(socketPath, std::string(conversionGreeting) + target + '\n', paths, limit);
}

InstanceServer::InstanceServer(QObject* parent) : InstanceServer(fs::path(), parent) {}

InstanceServer::InstanceServer(fs::path socketPath, QObject* parent)
    : QObject(parent), m_server(new QLocalServer(this)) {
    m_path = socketPath.empty() ? instanceSocketPath() : std::optional(std::move(socketPath));
    connect(m_server, &QLocalServer::newConnection, this, &InstanceServer::accept);
}

InstanceServer::~InstanceServer() {
    m_server->close();
}

bool InstanceServer::listen() {
    if (!m_path) return false;
    const QString name = QFile::decodeName(QByteArray::fromStdString(m_path->native()));
    // No socket options: with them Qt binds elsewhere and renames the socket into
    // place, over a running window's. The folder alone keeps other users out.
    if (m_server->listen(name)) return true;
    if (m_server->serverError() != QAbstractSocket::AddressInUseError) return false;
    // Someone answering there is a window of this user; a silent socket is a leftover.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(1000)) return false;
    QLocalServer::removeServer(name);
    return m_server->listen(name);
}

void InstanceServer::close() {
    m_server->close();
}

void InstanceServer::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        QTimer::singleShot(slowestMessageMs, socket, [socket] { socket->abort(); });
        read(socket);
    }
}

void InstanceServer::read(QLocalSocket* socket) {
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    if (buffer.size() > largestMessage) {
        socket->abort();
        return;
    }
    socket->setProperty("buffer", buffer);
    const qsizetype lineEnd = buffer.indexOf('\n');
    if (lineEnd < 0) {
        if (buffer.size() > longestGreeting) socket->abort();
        return;
    }
    const QByteArray opening = buffer.left(lineEnd + 1);
    QString target;
    if (opening.startsWith(QByteArray(conversionGreeting.data(), conversionGreeting.size()))) {
        target = QString::fromUtf8(opening.mid(conversionGreeting.size()).chopped(1));
        if (target.isEmpty()) {
            socket->abort();
            return;
        }
    } else if (opening != QByteArray::fromRawData(greeting.data(), greeting.size())) {
        socket->abort();
        return;
    }
    // Complete when the last path's NUL is followed by the empty path's NUL.
    const bool complete =
        buffer.size() == opening.size() + 1
            ? buffer.endsWith('\0')
            : buffer.size() > opening.size() + 1 && buffer.endsWith(QByteArray(2, '\0'));
    if (!complete) return;

    QStringList paths;
    const QByteArray body = buffer.mid(opening.size(), buffer.size() - opening.size() - 1);
    for (const QByteArray& path : body.split('\0'))
        if (!path.isEmpty()) paths.append(QFile::decodeName(path));
    socket->setProperty("buffer", QVariant());
    socket->write(&confirmation, 1);
    socket->flush();
    socket->disconnectFromServer();
    if (target.isEmpty())
        emit filesReceived(paths);
    else
        emit conversionRequested(paths, target);
}

} // namespace lumatra
