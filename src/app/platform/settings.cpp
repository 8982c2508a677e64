#include "platform/settings.h"

#include <QFile>

namespace lumatra {
namespace {
const QString qualityKey = QStringLiteral("quality");
const QString outputDirectoryKey = QStringLiteral("outputDirectory");
} // namespace

AppSettings::AppSettings(QObject* parent)
    : QObject(parent), m_settings(QStringLiteral("Lumatra"), QStringLiteral("Lumatra")) {}

Quality AppSettings::quality() const {
    const auto saved = m_settings.value(qualityKey);
    if (!saved.canConvert<QString>()) return Quality::balanced;
    return qualityFromRaw(saved.toString().toStdString()).value_or(Quality::balanced);
}

void AppSettings::setQuality(Quality quality) {
    const auto raw = rawValue(quality);
    m_settings.setValue(qualityKey,
                        QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size())));
    m_settings.sync();
}

std::optional<std::filesystem::path> AppSettings::outputDirectory() const {
    const QString saved = m_settings.value(outputDirectoryKey).toString();
    if (saved.isEmpty()) return std::nullopt;
    return std::filesystem::path(QFile::encodeName(saved).toStdString());
}

void AppSettings::setOutputDirectory(const std::optional<std::filesystem::path>& folder) {
    if (folder)
        m_settings.setValue(outputDirectoryKey,
                            QFile::decodeName(QByteArray::fromStdString(folder->native())));
    else
        m_settings.remove(outputDirectoryKey);
    m_settings.sync();
}

} // namespace lumatra
