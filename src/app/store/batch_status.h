#pragma once
// How the batch is going and how it ended, as the window, its title and the launcher
// show it: "Конвертирую 12 из 40 · осталось ~1 мин", the share done, the row at work,
// the summary "Готово 37 · 3 ошибки", the badge and the end's sound.

#include <QElapsedTimer>
#include <QObject>
#include <QString>

namespace lumatra {

class JobListModel;
class QueueRunner;

/// Main thread only. Reads the jobs and whether the runner is at work; changes neither.
class BatchStatus : public QObject {
    Q_OBJECT

public:
    BatchStatus(const JobListModel& jobs, const QueueRunner& runner, QObject* parent = nullptr);

    /// While a batch runs: "Конвертирую 12 из 40 · осталось ~1 мин"; "" otherwise.
    QString text() const { return m_text; }
    /// The batch's share done, 0…1, weighed by size.
    double progress() const { return m_progress; }
    /// Row of the first running job of the batch, or -1.
    int activeRow() const { return m_activeRow; }
    /// After a batch, until the user's next change of the list: "Готово 37 · 3 ошибки".
    QString summary() const { return m_summary; }
    /// "12 из 40 — Lumatra", "Готово 37, 3 ошибки — Lumatra" or "Lumatra".
    QString windowTitle() const { return m_title; }
    /// What the launcher badge shows: queued and running jobs (0 = none).
    int badge() const { return m_badge; }

    /// A new batch starts: its own clock, no summary.
    void begin();
    /// Counts the batch's jobs again. `tick`: called by the progress clock, which alone
    /// moves the counts of a running batch (starts, growth and the end show at once).
    void update(bool tick = false);
    /// The batch ended; `sound` is "" for a batch that ends without a sound (quitting),
    /// else the summary is made, the sound played and `finished` emitted.
    void end(const QString& sound);
    void refreshTitle();
    void dismissSummary();
    void updateBadge();
    /// The summary as a desktop notification.
    void notifyEnd() const;

signals:
    void textChanged();
    void progressChanged();
    void activeRowChanged();
    void summaryChanged();
    void windowTitleChanged();
    void badgeChanged();
    /// `sound` is "Glass", or "Basso" when a conversion failed.
    void finished(const QString& sound);

private:
    QString titleText() const;
    void setSummary(QString summary, QString title);
    void pushLauncher();

    const JobListModel& m_jobs;
    const QueueRunner& m_runner;
    QElapsedTimer m_clock;
    QString m_text;
    double m_progress = 0;
    int m_finished = 0;
    int m_total = 0;
    int m_activeRow = -1;
    int m_launcherPercent = -1;
    int m_badge = 0;
    QString m_summary;
    QString m_summaryTitle;
    QString m_title = QStringLiteral("Lumatra");
};

} // namespace lumatra
