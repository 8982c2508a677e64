#pragma once
// One window per user: a second launch hands its files to the running window over a
// local socket in the user's private runtime folder, and exits.

#include "tools/private_folders.h"

#include <QObject>
#include <QStringList>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace lumatra {

/// Where the running window listens; none without a private runtime folder.
std::optional<std::filesystem::path> instanceSocketPath();

/// Where a conversion started from the file manager listens while it runs without the
/// window; none without a private runtime folder.
std::optional<std::filesystem::path> conversionSocketPath();

/// Hands `paths` (made absolute against the current folder) to the window running for
/// this user and waits for it to confirm, at most `limit`. True when the window took
/// them; false when none runs. Needs no application object; never throws.
bool forwardToRunningInstance(const std::vector<std::string>& paths,
                              std::chrono::milliseconds limit = std::chrono::seconds(5));

/// Hands `paths` to whoever listens at `socketPath` (the window, or a conversion running
/// without it) to be converted to `target` (a format's raw value) at once. True when it
/// confirmed within `limit`. Never throws.
bool forwardConversion(const std::filesystem::path& socketPath,
                       const std::vector<std::string>& paths, const std::string& target,
                       std::chrono::milliseconds limit = std::chrono::seconds(5));

/// The running window's end of the socket. Main thread.
class InstanceServer : public QObject {
    Q_OBJECT

public:
    /// `socketPath` defaults to instanceSocketPath().
    explicit InstanceServer(QObject* parent = nullptr);
    explicit InstanceServer(std::filesystem::path socketPath, QObject* parent = nullptr);
    ~InstanceServer() override;

    /// Starts listening. False when another window already answers at the socket (a
    /// leftover socket of a program that died is replaced) or no socket can be made.
    bool listen();
    /// Stops listening (the window is quitting): a later launch starts a window of its own.
    void close();

signals:
    /// A later launch handed over these absolute paths, in its order (possibly none:
    /// it only asked for the window).
    void filesReceived(const QStringList& paths);
    /// A later launch asked for these absolute paths to be converted to `target` (a
    /// format's raw value, checked by the receiver) at once.
    void conversionRequested(const QStringList& paths, const QString& target);

private:
    void accept();
    void read(QLocalSocket* socket);

    std::optional<std::filesystem::path> m_path;
    QLocalServer* m_server;
};

} // namespace lumatra
