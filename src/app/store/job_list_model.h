#pragma once
// The store's job list as a Qt list model: one row per job, in list order; and its
// counts by status.

#include "store/job.h"

#include <QAbstractListModel>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <memory>
#include <vector>

namespace lumatra {

/// How many jobs of the list stand where: what the footer, the main button and the
/// launcher's badge show.
struct JobCounts {
    int ready = 0;
    /// Queued or running.
    int pending = 0;
    int failed = 0;
    /// Any done, failed or cancelled.
    bool finished = false;

    bool operator==(const JobCounts&) const = default;
};

/// Owns the jobs. Rows change precisely: insertions and removals by range,
/// `dataChanged` for the row whose job changed. QML delegates take the `job` role
/// (`required property Job job`) and bind to the job's own properties.
class JobListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The job list belongs to the store")
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role { JobRole = Qt::UserRole + 1, IdRole, StatusRole, TargetRole };

    explicit JobListModel(QObject* parent = nullptr);
    ~JobListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return static_cast<int>(m_jobs.size()); }
    bool isEmpty() const { return m_jobs.empty(); }
    Job* at(int row) const { return m_jobs[static_cast<std::size_t>(row)].get(); }
    Q_INVOKABLE lumatra::Job* jobAt(int row) const;
    /// Row of the job, or -1.
    int rowOf(const Job* job) const;
    const std::vector<std::unique_ptr<Job>>& jobs() const { return m_jobs; }
    JobCounts counts() const;
    /// The next failed row after `after`, wrapping round; -1 when none failed.
    int nextFailedRow(int after) const;

    /// Appends the jobs at the end in one insertion.
    void append(std::vector<std::unique_ptr<Job>> jobs);
    /// Removes every job for which `condition` holds, one removal per run of rows.
    /// Returns how many went.
    int removeIf(const std::function<bool(const Job&)>& condition);

signals:
    void countChanged();
    /// A job of the list changed its status (progress included) or target.
    void jobChanged(lumatra::Job* job);

private:
    void watch(Job* job);
    void rowChanged(Job* job, int role);

    std::vector<std::unique_ptr<Job>> m_jobs;
    mutable std::size_t m_hint = 0;
};

} // namespace lumatra
