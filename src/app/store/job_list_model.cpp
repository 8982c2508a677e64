#include "store/job_list_model.h"

#include <QQmlEngine>
#include <QTimer>

namespace lumatra {

namespace {
// How long a removed job outlives its row: longer than the row's fade-out.
constexpr int retireMilliseconds = 1000;
} // namespace

JobListModel::JobListModel(QObject* parent) : QAbstractListModel(parent) {}

JobListModel::~JobListModel() = default;

JobCounts JobListModel::counts() const {
    JobCounts counts;
    for (const auto& job : m_jobs) {
        counts.ready += job->status() == Job::Status::Ready;
        counts.pending += job->isPending();
        counts.failed += job->status() == Job::Status::Failed;
        counts.finished = counts.finished || job->isFinished();
    }
    return counts;
}

int JobListModel::nextFailedRow(int after) const {
    const int total = count();
    for (int step = 1; step <= total; ++step) {
        const int row = ((after < 0 ? -1 : after) + step) % total;
        if (at(row)->status() == Job::Status::Failed) return row;
    }
    return -1;
}

int JobListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant JobListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Job* job = at(index.row());
    switch (role) {
    case JobRole:
        return QVariant::fromValue(const_cast<Job*>(job));
    case IdRole:
        return job->idText();
    case StatusRole:
        return QVariant::fromValue(job->status());
    case TargetRole:
        return job->targetName();
    case Qt::DisplayRole:
        return job->fileName();
    default:
        return {};
    }
}

QHash<int, QByteArray> JobListModel::roleNames() const {
    return {{JobRole, "job"},
            {IdRole, "jobId"},
            {StatusRole, "status"},
            {TargetRole, "target"},
            {Qt::DisplayRole, "display"}};
}

Job* JobListModel::jobAt(int row) const {
    if (row < 0 || row >= count()) return nullptr;
    return at(row);
}

int JobListModel::rowOf(const Job* job) const {
    // Bulk operations walk the list in order: the row after the last one found is the
    // likely answer.
    const std::size_t size = m_jobs.size();
    for (std::size_t step = 0; step < size; ++step) {
        const std::size_t row = (m_hint + step) % size;
        if (m_jobs[row].get() == job) {
            m_hint = row;
            return static_cast<int>(row);
        }
    }
    return -1;
}

void JobListModel::append(std::vector<std::unique_ptr<Job>> jobs) {
    if (jobs.empty()) return;
    const int first = count();
    beginInsertRows({}, first, first + static_cast<int>(jobs.size()) - 1);
    m_jobs.reserve(m_jobs.size() + jobs.size());
    for (auto& job : jobs) {
        // QML must never collect a job it was handed.
        QQmlEngine::setObjectOwnership(job.get(), QQmlEngine::CppOwnership);
        watch(job.get());
        m_jobs.push_back(std::move(job));
    }
    endInsertRows();
    emit countChanged();
}

int JobListModel::removeIf(const std::function<bool(const Job&)>& condition) {
    int removed = 0;
    // From the end, so that the rows still to look at keep their numbers.
    for (int row = count() - 1; row >= 0;) {
        if (!condition(*at(row))) {
            --row;
            continue;
        }
        const int last = row;
        while (row > 0 && condition(*at(row - 1)))
            --row;
        beginRemoveRows({}, row, last);
        for (int i = row; i <= last; ++i) {
            // A view or a script may still hold the job: the window's row fades out for a
            // moment after it leaves, showing the job as it was.
            Job* job = m_jobs[static_cast<std::size_t>(i)].release();
            job->disconnect(this);
            job->setParent(this);
            QTimer::singleShot(retireMilliseconds, job, &QObject::deleteLater);
        }
        m_jobs.erase(m_jobs.begin() + row, m_jobs.begin() + last + 1);
        endRemoveRows();
        removed += last - row + 1;
        --row;
    }
    if (removed > 0) emit countChanged();
    return removed;
}

void JobListModel::watch(Job* job) {
    // Progress alone changes no role: the row's own bindings show it.
    connect(job, &Job::targetChanged, this, [this, job] {
        rowChanged(job, TargetRole);
        emit jobChanged(job);
    });
    connect(job, &Job::targetsChanged, this, [this, job] { emit jobChanged(job); });
    connect(job, &Job::phaseChanged, this, [this, job] {
        rowChanged(job, StatusRole);
        emit jobChanged(job);
    });
}

void JobListModel::rowChanged(Job* job, int role) {
    const int row = rowOf(job);
    if (row < 0) return;
    const auto changed = index(row);
    emit dataChanged(changed, changed, {role});
}

} // namespace lumatra
