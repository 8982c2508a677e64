#pragma once
// Showing files and folders in the desktop's file manager.

#include <QObject>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <functional>

namespace lumatra {

/// Asks the file manager to show items. The calls return at once; what the file
/// manager then does (or whether the item still exists) is the desktop's affair, but a
/// desktop where nothing can show a folder is reported.
class FileManager : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    explicit FileManager(QObject* parent = nullptr) : QObject(parent) {}

    /// Opens the containing folder with `file` selected, through the freedesktop
    /// FileManager1 interface; when no file manager answers, opens the containing
    /// folder with the desktop's default handler. `unanswered` runs (on the main
    /// thread, perhaps later) when neither can.
    static void reveal(const QUrl& file, std::function<void()> unanswered);
    Q_INVOKABLE static void reveal(const QUrl& file) { reveal(file, std::function<void()>()); }
    /// Opens a folder (or file) with the desktop's default handler; false when the
    /// desktop has none for folders.
    Q_INVOKABLE static bool open(const QUrl& url);
    /// Whether the desktop names a program that opens folders.
    static bool canOpenFolders();
};

} // namespace lumatra
