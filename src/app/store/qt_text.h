#pragma once
// Conversions between the engine's texts and paths and Qt's strings.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <filesystem>
#include <string_view>

namespace lumatra {

/// UTF-8 text as a QString.
inline QString qtText(std::string_view value) {
    return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

/// A file-system path as Qt shows it (file names in the locale's encoding).
inline QString qtPath(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

/// The file-system path of a local file name from Qt.
inline std::filesystem::path localPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

} // namespace lumatra
