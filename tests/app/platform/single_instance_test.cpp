// One window per user: a later launch of the real executable hands its files to the
// running window over the socket in the user's private runtime folder, and exits.

#include "app/store/store_fixture.h"
#include "platform/single_instance.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>

#include <cstring>
#include <tuple>

namespace lumatra {
namespace {

using namespace lumatra::test;
namespace fs = std::filesystem;

// Makes `folder` with `mode`, to point XDG_RUNTIME_DIR at.
const char* made(const fs::path& folder, fs::perms mode = fs::perms::owner_all) {
    fs::create_directories(folder);
    fs::permissions(folder, mode);
    return folder.c_str();
}

// Starts the executable as a second launch and waits for it, serving the event loop
// meanwhile so that the window's end of the socket can answer.
int launch(const QStringList& arguments, const fs::path& workingDir) {
    QProcess process;
    process.setWorkingDirectory(QString::fromStdString(workingDir.string()));
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(LUMATRA_BINARY), arguments);
    // (QProcess kills it should it still run.)
    if (!process.waitForStarted(5000) ||
        !waitFor([&] { return process.state() == QProcess::NotRunning; }, 20000))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
}

// (The store drops what is missing: its own test.)
TEST(SingleInstance, ALaterLaunchHandsItsFilesToTheRunningWindowAndExits) {
    ScratchDir dir;
    ScopedVariable runtime("XDG_RUNTIME_DIR", made(dir / "run"));
    InstanceServer window;
    ASSERT_TRUE(window.listen());
    // Relative to the scratch folder; with none, only the window is asked for.
    for (const QStringList& arguments :
         {QStringList{"a.wav"}, QStringList{"b.wav", "missing.wav", "c.json"}, QStringList{}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        QSignalSpy received(&window, &InstanceServer::filesReceived);
        EXPECT_EQ(launch(arguments, dir.path()), 0);
        ASSERT_EQ(received.count(), 1);
        // Every path arrives absolute, in the launch's order.
        const QStringList paths = received.at(0).at(0).toStringList();
        ASSERT_EQ(paths.size(), arguments.size());
        for (int i = 0; i < paths.size(); ++i)
            EXPECT_EQ(paths[i].toStdString(), (dir / arguments[i].toStdString()).string());
    }
}

// Sends raw bytes to the socket and closes; the answer byte, if any.
std::string sendRaw(const fs::path& socket, const QByteArray& bytes) {
    QLocalSocket client;
    client.connectToServer(QString::fromStdString(socket.string()));
    if (!client.waitForConnected(2000)) return "no connection";
    client.write(bytes);
    client.flush();
    std::string answer;
    waitFor(
        [&] {
            if (client.bytesAvailable() > 0) answer = client.readAll().toStdString();
            return !answer.empty() || client.state() != QLocalSocket::ConnectedState;
        },
        2000);
    return answer;
}

// One window listens (a leftover socket replaced) and takes only well-formed, complete
// messages until it quits.
TEST(SingleInstance, OnlyOneWindowListensAndTakesOnlyAWellFormedCompleteMessage) {
    ScratchDir dir;
    ScopedVariable runtime("XDG_RUNTIME_DIR", made(dir / "run"));
    const auto socket = instanceSocketPath();
    ASSERT_TRUE(socket);
    EXPECT_EQ(*socket, dir / "run" / "lumatra.socket");

    // No window yet: nothing to hand files to.
    EXPECT_FALSE(forwardToRunningInstance({"x.wav"}, std::chrono::milliseconds(500)));
    {
        InstanceServer first;
        ASSERT_TRUE(first.listen());
        InstanceServer second;
        EXPECT_FALSE(second.listen());
    }

    // A program that died left its socket behind: nobody answers there.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket->c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(fs::exists(*socket));
    EXPECT_FALSE(forwardToRunningInstance({}, std::chrono::milliseconds(500)));

    InstanceServer window;
    ASSERT_TRUE(window.listen());
    QSignalSpy received(&window, &InstanceServer::filesReceived);
    const QByteArray greeting("lumatra-open 1\n");
    struct Case {
        const char* name;
        QByteArray bytes;
        std::string answer;
        std::vector<QStringList> messages;
    };
    const std::vector<Case> cases = {
        {"another program's bytes", QByteArray("GET / HTTP/1.0\r\n\r\n"), "", {}},
        {"cut off before its end", greeting + QByteArray("/a.wav", 6), "", {}},
        {"complete", greeting + QByteArray("/a.wav\0/b.wav\0\0", 15), "k", {{"/a.wav", "/b.wav"}}},
        {"complete and empty", greeting + QByteArray(1, '\0'), "k", {{}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        received.clear();
        EXPECT_EQ(sendRaw(*socket, c.bytes), c.answer);
        QTest::qWait(50);
        ASSERT_EQ(received.count(), static_cast<qsizetype>(c.messages.size()));
        if (!c.messages.empty()) {
            EXPECT_EQ(received.at(0).at(0).toStringList(), c.messages[0]);
        }
    }

    // A window that quits stops listening: the next launch starts its own.
    window.close();
    EXPECT_FALSE(forwardToRunningInstance({}, std::chrono::milliseconds(500)));
    InstanceServer next;
    EXPECT_TRUE(next.listen());
}

TEST(SingleInstance, TheSocketLivesOnlyInAFolderNoOtherUserCanEnter) {
    ScratchDir dir;
    const fs::path fallback = fs::temp_directory_path() / ("lumatra-" + std::to_string(::getuid()));
    fs::create_directories(dir / "real");
    fs::create_directory_symlink(dir / "real", dir / "link");
    // A folder others may enter is refused, and so is a link, whatever it points to.
    for (const auto& [folder, mode, expected] :
         {std::tuple{dir / "open", fs::perms(0755), fallback},
          {dir / "closed", fs::perms::owner_all, dir / "closed"},
          {dir / "link", fs::perms::owner_all, fallback}}) {
        ScopedVariable runtime("XDG_RUNTIME_DIR", made(folder, mode));
        EXPECT_EQ(privateRuntimeFolder(), expected) << folder;
    }
    struct stat info {};
    ASSERT_EQ(::lstat(fallback.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 077, 0u);
    EXPECT_EQ(info.st_uid, ::getuid());
}

} // namespace
} // namespace lumatra
