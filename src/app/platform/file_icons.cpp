#include "platform/file_icons.h"

#include <QFile>
#include <QHash>
#include <QIcon>
#include <QMimeDatabase>

namespace lumatra {

QString fileIconName(const std::filesystem::path& path) {
    static QMimeDatabase database;
    static QHash<QString, QString> byType;
    const auto type = database.mimeTypeForFile(
        QFile::decodeName(QByteArray::fromStdString(path.native())), QMimeDatabase::MatchExtension);
    const auto cached = byType.constFind(type.name());
    if (cached != byType.constEnd()) return *cached;

    QString icon;
    if (QIcon::hasThemeIcon(type.iconName()))
        icon = type.iconName();
    else if (QIcon::hasThemeIcon(type.genericIconName()))
        icon = type.genericIconName();
    byType.insert(type.name(), icon);
    return icon;
}

FileIconProvider::FileIconProvider() : QQuickImageProvider(QQuickImageProvider::Pixmap) {}

QPixmap FileIconProvider::requestPixmap(const QString& id, QSize* size,
                                        const QSize& requestedSize) {
    const QSize wanted = requestedSize.isValid() ? requestedSize : QSize(64, 64);
    const QPixmap pixmap = QIcon::fromTheme(id).pixmap(wanted);
    if (size) *size = pixmap.size();
    return pixmap;
}

} // namespace lumatra
