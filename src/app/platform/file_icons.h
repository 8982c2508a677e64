#pragma once
// The icon a file manager shows for a file: the icon theme's icon of its MIME type.

#include <QQuickImageProvider>
#include <QString>

#include <filesystem>

namespace lumatra {

/// The theme icon name for the file's type, judged from its name; empty when the
/// current icon theme has no icon for it. Main thread only (results are cached per type).
QString fileIconName(const std::filesystem::path& path);

/// Serves "image://fileicon/<icon name>" to QML from the icon theme. Register it with
/// `engine.addImageProvider(QStringLiteral("fileicon"), new FileIconProvider)`.
class FileIconProvider : public QQuickImageProvider {
public:
    FileIconProvider();
    QPixmap requestPixmap(const QString& id, QSize* size, const QSize& requestedSize) override;
};

} // namespace lumatra
