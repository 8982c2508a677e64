#pragma once
// Showing files and folders in the desktop's file manager.

#include <QObject>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

namespace lumatra {

/// Asks the file manager to show items. Both calls return at once; what the file
/// manager then does (or whether the item still exists) is the desktop's affair.
class FileManager : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    explicit FileManager(QObject* parent = nullptr) : QObject(parent) {}

    /// Opens the containing folder with `file` selected, through the freedesktop
    /// FileManager1 interface; when no file manager answers, opens the containing
    /// folder with the desktop's default handler.
    Q_INVOKABLE static void reveal(const QUrl& file);
    /// Opens a folder (or file) with the desktop's default handler.
    Q_INVOKABLE static void open(const QUrl& url);
};

} // namespace lumatra
