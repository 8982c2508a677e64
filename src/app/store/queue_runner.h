#pragma once
// The conversion queue of the store: takes the first queued job of the list, converts
// it on a worker thread and records the outcome, until no job is queued.

#include "formats/convert_error.h"
#include "store/job_list_model.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>

namespace lumatra {

/// Confined to the main thread, like the job list it works off. One conversion runs at a
/// time, on a worker thread of its own, with copies of the job's file and target and of
/// the options as they are when it starts; progress and the outcome come back as queued
/// calls. The runner never adds or removes jobs; it only changes their status.
class QueueRunner : public QObject {
    Q_OBJECT

public:
    /// What a conversion started now gets: the store's quality and output folder.
    using OptionsSource = std::function<Options()>;

    /// `jobs` must outlive the runner.
    QueueRunner(JobListModel& jobs, OptionsSource options, QObject* parent = nullptr);
    /// Stops a running conversion and waits for its worker, so that no temporary
    /// output and no external program outlives the runner.
    ~QueueRunner() override;

    /// A batch is being worked off.
    bool isActive() const { return m_active; }
    /// The running job; null while none runs.
    Job* current() const { return m_current; }
    /// The conversion in progress (0 when none); each conversion gets a new number.
    std::uint64_t currentConversion() const { return m_conversion; }

    /// Starts a batch unless one is under way; the first job is taken once control is
    /// back in the event loop.
    void start();
    /// Asks the conversion of `job` to stop when it is the running one. The job becomes
    /// cancelled when the conversion has actually stopped.
    void cancelRunning(const Job* job);
    /// Whether the worker of the last conversion has ended (its program reaped, its
    /// unfinished output removed).
    bool workerIdle() const;
    /// Blocks until the worker has ended or `limit` has passed; true when it ended.
    bool waitForWorker(std::chrono::milliseconds limit) const;
    /// A batch that ends from now on plays no sound (the program is quitting).
    void silence() { m_silent = true; }

    /// Where progress reports of conversion `conversion` land on the main thread: the
    /// fraction is shown only while that very conversion is still running.
    void applyProgress(std::uint64_t conversion, double fraction);

signals:
    void activeChanged();
    /// A job that was running has its outcome (done, failed or cancelled).
    void jobFinished(lumatra::Job* job);
    /// The batch is over; `sound` is "Glass", or "Basso" when a conversion failed, or
    /// empty when the runner was silenced.
    void batchFinished(const QString& sound);

private:
    struct Outcome;

    void runNext();
    void process(Job* job);
    void finish(std::uint64_t conversion, const Outcome& outcome);

    JobListModel& m_jobs;
    OptionsSource m_options;
    bool m_active = false;
    bool m_silent = false;
    int m_failures = 0;
    QPointer<Job> m_current;
    std::uint64_t m_conversion = 0;
    std::uint64_t m_lastConversion = 0;
    // Set by the worker as its very last step; shared so that it outlives a detached run.
    std::shared_ptr<std::atomic<bool>> m_workerDone = std::make_shared<std::atomic<bool>>(true);
    std::jthread m_worker;
};

} // namespace lumatra
