#include "platform/file_manager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace lumatra {

void FileManager::reveal(const QUrl& file, std::function<void()> unanswered) {
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(file.toLocalFile()).absolutePath());
    const auto fallBack = [folder, unanswered] {
        if (!open(folder) && unanswered) unanswered();
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        fallBack();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{file.toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [fallBack](QDBusPendingCallWatcher* done) {
                         if (QDBusPendingReply<>(*done).isError()) fallBack();
                         done->deleteLater();
                     });
}

bool FileManager::canOpenFolders() {
    // xdg-open starts whatever the desktop names for folders, and fails later, unseen,
    // when it names nothing.
    const QString query = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (query.isEmpty()) return false;
    QProcess process;
    process.start(query, {QStringLiteral("query"), QStringLiteral("default"),
                          QStringLiteral("inode/directory")});
    if (!process.waitForFinished(2000)) {
        process.kill();
        process.waitForFinished(500);
        return false;
    }
    return process.exitCode() == 0 && !process.readAllStandardOutput().trimmed().isEmpty();
}

bool FileManager::open(const QUrl& url) {
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir() && !canOpenFolders())
        return false;
    return QDesktopServices::openUrl(url);
}

} // namespace lumatra
