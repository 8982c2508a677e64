#include "store/batch_status.h"

#include "store/job_list_model.h"
#include "store/queue_runner.h"
#include "store/view_texts.h"

#include "platform/launcher_badge.h"
#include "platform/notifications.h"
#include "platform/sounds.h"

#include <algorithm>
#include <cstdint>

namespace lumatra {

BatchStatus::BatchStatus(const JobListModel& jobs, const QueueRunner& runner, QObject* parent)
    : QObject(parent), m_jobs(jobs), m_runner(runner) {}

void BatchStatus::begin() {
    m_clock.start();
    dismissSummary();
    updateBadge();
}

void BatchStatus::update(bool tick) {
    int finished = 0;
    int total = 0;
    int firstRunning = -1;
    double doneWork = 0;
    double allWork = 0;
    const bool active = m_runner.isActive();
    if (active) {
        const auto& jobs = m_jobs.jobs();
        for (std::size_t row = 0; row < jobs.size(); ++row) {
            const Job& job = *jobs[row];
            // A job taken out of the queue is no longer part of the batch.
            if (!job.inBatch() || job.status() == Job::Status::Ready) continue;
            // Sizes weigh the jobs: a long song counts for more than a short one.
            const double work = static_cast<double>(std::max<std::int64_t>(job.bytes(), 1));
            ++total;
            allWork += work;
            if (job.isFinished()) {
                ++finished;
                doneWork += work;
            } else if (job.status() == Job::Status::Running) {
                doneWork += work * job.progress();
                if (firstRunning < 0) firstRunning = static_cast<int>(row);
            }
        }
    }
    const double progress = allWork > 0 ? std::clamp(doneWork / allWork, 0.0, 1.0) : 0;
    // The counts in the strip, the title and the launcher move with the progress clock,
    // a few times a second, not with every outcome: a batch of quick jobs would lay out
    // the line anew and retitle the window dozens of times a second. A batch that starts,
    // grows or ends is shown at once. The counts of an ended batch stay as they were.
    const bool recount = active && (tick || m_text.isEmpty() || total != m_total);
    if (recount) {
        m_finished = finished;
        m_total = total;
        QString text = QStringLiteral("Конвертирую ") + QString::number(finished) +
                       QStringLiteral(" из ") + QString::number(total);
        // Once enough has been done to go by.
        const double elapsed = m_clock.isValid() ? m_clock.elapsed() / 1000.0 : 0;
        if (elapsed >= 3 && progress >= 0.03 && progress < 1)
            text +=
                QStringLiteral(" · осталось ") + timeLeftText(elapsed * (1 - progress) / progress);
        if (text != m_text) {
            m_text = std::move(text);
            emit textChanged();
        }
        refreshTitle();
    } else if (!active && !m_text.isEmpty()) {
        m_text.clear();
        emit textChanged();
    }
    if (progress != m_progress) {
        m_progress = progress;
        emit progressChanged();
    }
    if (firstRunning != m_activeRow) {
        m_activeRow = firstRunning;
        emit activeRowChanged();
    }
    const int percent = active ? static_cast<int>(progress * 100) : -1;
    if ((recount || !active) && percent != m_launcherPercent) {
        m_launcherPercent = percent;
        pushLauncher();
    }
}

// The window's title is set only when its text changes: each setting goes to the display
// server.
void BatchStatus::refreshTitle() {
    QString title = titleText();
    if (title == m_title) return;
    m_title = std::move(title);
    emit windowTitleChanged();
}

QString BatchStatus::titleText() const {
    if (m_runner.isActive())
        return QString::number(m_finished) + QStringLiteral(" из ") + QString::number(m_total) +
               QStringLiteral(" — Lumatra");
    if (!m_summaryTitle.isEmpty()) return m_summaryTitle + QStringLiteral(" — Lumatra");
    return QStringLiteral("Lumatra");
}

void BatchStatus::setSummary(QString summary, QString title) {
    if (summary == m_summary && title == m_summaryTitle) return;
    m_summary = std::move(summary);
    m_summaryTitle = std::move(title);
    emit summaryChanged();
    refreshTitle();
}

void BatchStatus::dismissSummary() {
    setSummary({}, {});
}

void BatchStatus::notifyEnd() const {
    if (m_summary.isEmpty()) return;
    showDesktopNotification(QStringLiteral("Lumatra: конвертирование закончено"), m_summary);
}

void BatchStatus::end(const QString& sound) {
    updateBadge();
    update();
    if (sound.isEmpty()) {
        refreshTitle();
        return;
    }
    int done = 0;
    int failed = 0;
    int cancelled = 0;
    for (const auto& job : m_jobs.jobs()) {
        if (!job->inBatch()) continue;
        done += job->status() == Job::Status::Done;
        failed += job->status() == Job::Status::Failed;
        cancelled += job->status() == Job::Status::Cancelled;
    }
    if (done + failed + cancelled > 0) {
        QStringList parts{QStringLiteral("Готово ") + QString::number(done)};
        if (failed > 0) parts.append(countText(failed, "ошибка", "ошибки", "ошибок"));
        if (cancelled > 0) parts.append(QStringLiteral("отменено ") + QString::number(cancelled));
        setSummary(parts.join(QStringLiteral(" · ")), parts.join(QStringLiteral(", ")));
    } else {
        refreshTitle();
    }
    playSystemSound(sound);
    emit finished(sound);
}

void BatchStatus::updateBadge() {
    const int count = m_jobs.counts().pending;
    if (count == m_badge) return;
    m_badge = count;
    pushLauncher();
    emit badgeChanged();
}

void BatchStatus::pushLauncher() {
    showLauncherCount(m_badge, m_launcherPercent < 0 ? -1.0 : m_launcherPercent / 100.0);
}

} // namespace lumatra
