#pragma once
// The window's saved settings: the quality and the output folder.

#include "formats/format.h"

#include <QObject>
#include <QSettings>

#include <filesystem>
#include <optional>

namespace lumatra {

/// The user's settings of organisation and application "Lumatra", keys "quality"
/// (a quality's raw value) and "outputDirectory" (a folder path). Unreadable values
/// read as the defaults; nothing here fails.
class AppSettings : public QObject {
    Q_OBJECT

public:
    explicit AppSettings(QObject* parent = nullptr);

    /// `balanced` when the key is missing or holds anything but a quality's raw value.
    Quality quality() const;
    void setQuality(Quality quality);

    /// The saved folder, not checked for existence; none when the key is missing or empty.
    std::optional<std::filesystem::path> outputDirectory() const;
    /// None removes the key.
    void setOutputDirectory(const std::optional<std::filesystem::path>& folder);

private:
    mutable QSettings m_settings;
};

} // namespace lumatra
