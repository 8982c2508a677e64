#pragma once
// The bulk bar's choice: one target for every ready job of a kind, the targets all of
// them can take, and the bar's rows.

#include "formats/format.h"

#include <QString>
#include <QStringList>
#include <QVariantList>

#include <optional>
#include <vector>

namespace lumatra {

class JobListModel;

/// Reads and writes the jobs of the list it is given; main thread only. QML names kinds
/// and formats by their raw values; unknown names change nothing and find nothing.
class BulkTarget {
public:
    explicit BulkTarget(JobListModel& jobs) : m_jobs(jobs) {}

    /// Every ready job of `kind` that can produce `format` takes it.
    void choose(Format format, Kind kind);
    /// The targets every ready job of `kind` can take, in the first one's order.
    std::vector<Format> commonTargets(Kind kind) const;
    QStringList commonTargets(const QString& kind) const;
    /// The target all ready jobs of `kind` have, if they have the same.
    std::optional<Format> commonTarget(Kind kind) const;
    QString commonTarget(const QString& kind) const;

    /// The bar's rows, in kind order, for every kind with a ready job and a common
    /// target: [{kind, title, symbol, label ("Все аудио в"), targets: [{format, label,
    /// detail}], common: format or ""}].
    QVariantList rows() const;

private:
    JobListModel& m_jobs;
};

} // namespace lumatra
