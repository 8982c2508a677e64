#include "store/conversion_settings.h"

#include "store/file_intake.h"
#include "store/qt_text.h"

#include "platform/settings.h"
#include "tools/tools.h"

namespace lumatra {
namespace fs = std::filesystem;

ConversionSettings::ConversionSettings(QObject* parent)
    : QObject(parent), m_saved(new AppSettings(this)) {
    // The saved values go through the setters, which write them back.
    setQuality(m_saved->quality());
    setOutputDirectory(m_saved->outputDirectory());
    m_ffmpegMissing = !Tools::locate().ffmpeg.has_value();
}

void ConversionSettings::setQuality(Quality quality) {
    m_saved->setQuality(quality);
    if (quality == m_quality) return;
    m_quality = quality;
    emit qualityChanged();
}

QString ConversionSettings::qualityName() const {
    return qtText(rawValue(m_quality));
}

void ConversionSettings::setQualityName(const QString& name) {
    if (const auto quality = qualityFromRaw(name.toStdString())) setQuality(*quality);
}

void ConversionSettings::setOutputDirectory(std::optional<fs::path> folder) {
    if (folder) folder = normalisedPath(*folder);
    m_saved->setOutputDirectory(folder);
    if (folder == m_outputDirectory) return;
    m_outputDirectory = std::move(folder);
    emit outputDirectoryChanged();
}

QUrl ConversionSettings::outputDirectoryUrl() const {
    if (!m_outputDirectory) return {};
    return QUrl::fromLocalFile(qtPath(*m_outputDirectory));
}

void ConversionSettings::setOutputDirectoryUrl(const QUrl& url) {
    if (url.isEmpty()) {
        setOutputDirectory(std::nullopt);
        return;
    }
    // Only a folder of this machine can take outputs; anything else keeps the setting.
    if (!url.isLocalFile() || url.toLocalFile().isEmpty()) return;
    setOutputDirectory(localPath(url.toLocalFile()));
}

QString ConversionSettings::outputDirectoryName() const {
    if (!m_outputDirectory) return {};
    // The root folder has no name of its own.
    const auto name = m_outputDirectory->filename();
    return qtPath(name.empty() ? *m_outputDirectory : name);
}

QString ConversionSettings::outputDirectoryPath() const {
    return m_outputDirectory ? qtPath(*m_outputDirectory) : QString();
}

void ConversionSettings::setFfmpegMissing(bool missing) {
    if (missing == m_ffmpegMissing) return;
    m_ffmpegMissing = missing;
    emit ffmpegMissingChanged();
}

void ConversionSettings::checkFfmpeg() {
    setFfmpegMissing(!Tools::locate().ffmpeg.has_value());
}

} // namespace lumatra
