#pragma once
// What the next conversions are made with, as the user set it: the quality and the
// output folder (both saved), and whether ffmpeg was found.

#include "formats/format.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <filesystem>
#include <optional>

namespace lumatra {

class AppSettings;

/// Main thread only. Reads the saved values on construction and saves every change.
class ConversionSettings : public QObject {
    Q_OBJECT

public:
    explicit ConversionSettings(QObject* parent = nullptr);

    Quality quality() const { return m_quality; }
    void setQuality(Quality quality);
    QString qualityName() const;
    /// Unknown names are ignored.
    void setQualityName(const QString& name);

    const std::optional<std::filesystem::path>& outputDirectory() const {
        return m_outputDirectory;
    }
    void setOutputDirectory(std::optional<std::filesystem::path> folder);
    QUrl outputDirectoryUrl() const;
    /// An empty url means "next to each source"; a url that is not a local folder is
    /// ignored.
    void setOutputDirectoryUrl(const QUrl& url);
    /// The folder's last path component (the root's whole path); "" when none.
    QString outputDirectoryName() const;
    /// The folder's whole path; "" when none.
    QString outputDirectoryPath() const;

    bool ffmpegMissing() const { return m_ffmpegMissing; }
    void setFfmpegMissing(bool missing);
    /// Looks for ffmpeg again.
    void checkFfmpeg();

signals:
    void qualityChanged();
    void outputDirectoryChanged();
    void ffmpegMissingChanged();

private:
    AppSettings* m_saved;
    Quality m_quality = Quality::balanced;
    std::optional<std::filesystem::path> m_outputDirectory;
    bool m_ffmpegMissing = false;
};

} // namespace lumatra
