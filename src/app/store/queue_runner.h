#pragma once
// The conversion queue of the store: hands the queued jobs, in list order, to a pool of
// worker threads that start as many at once as the machine's cores allow and take the
// next one the moment one ends; records starts, progress and outcomes in the jobs.

#include "pool/conversion_pool.h"
#include "store/job_list_model.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace lumatra {

/// Confined to the main thread, like the job list it works off; the jobs are touched
/// only here. The pool's workers take the next request themselves, from a plan this
/// runner keeps equal to the queued jobs in list order, with copies of the job's file
/// and target and of the options as they are when the job starts; the main thread hears
/// of each start and outcome afterwards, in order: while a job runs, together on the
/// progress clock, which shows progress at most four times a second for every running
/// job in one go. The runner never adds or removes jobs; it only changes their status.
///
/// Room: a budget of cores. A video job (a video source, or a video target) takes the
/// whole budget, since its encoder already uses every core; any other job takes one. The
/// first queued job in list order starts as soon as it fits; the jobs after it wait for
/// it, so jobs always start in list order. With a budget of 1 one job runs at a time.
class QueueRunner : public QObject {
    Q_OBJECT

public:
    /// What a conversion started now gets: the store's quality and output folder.
    using OptionsSource = std::function<Options()>;

    /// The machine's cores, at least 1.
    static int machineBudget();
    /// How often at most a running job's progress is shown.
    static constexpr std::chrono::milliseconds progressInterval{250};

    /// `jobs` must outlive the runner. The budget starts as machineBudget().
    QueueRunner(JobListModel& jobs, OptionsSource options, QObject* parent = nullptr);
    /// Stops every running conversion and waits for its worker, so that no temporary
    /// output and no external program outlives the runner.
    ~QueueRunner() override;

    /// A batch is being worked off.
    bool isActive() const { return m_active; }
    /// How many jobs are converting now, as far as the main thread knows.
    int runningCount() const { return static_cast<int>(m_running.size()); }
    /// The conversion of `job` in progress (0 when it has none); each conversion gets a
    /// new number.
    std::uint64_t conversionOf(const Job* job) const;

    int budget() const { return m_budget; }
    /// Cores the queue may fill (values below 1 count as 1); takes effect for the jobs
    /// started from now on.
    void setBudget(int cores);
    /// Starts the workers ahead (jobs arrived), so that a batch's start does not.
    void preparePool() { m_pool->prepare(); }
    /// What `job` takes of the budget: all of it for video, else one core.
    int weightOf(const Job& job) const;
    /// A video source or a video target: its encoder fills every core by itself, and
    /// it converts at a lower priority than the window.
    static bool isVideo(const Job& job);

    /// Starts a batch unless one is under way; the first jobs are taken once control is
    /// back in the event loop. During a batch, hands the queued jobs over again.
    void start();
    /// The store's quality or output folder changed: jobs that start from now on get
    /// the new options.
    void optionsChanged();
    /// Takes a queued job out of the queue before a worker starts it: true when it did.
    /// False when a worker has taken it already; the job is then marked running.
    bool withdraw(Job* job);
    /// Asks the conversion of `job` to stop when it is running. The job becomes
    /// cancelled when the conversion has actually stopped.
    void cancelRunning(const Job* job);
    /// Whether every conversion has ended (its programs reaped, its unfinished output
    /// removed).
    bool workerIdle() const;
    /// Blocks until every conversion has ended or `limit` has passed; true when they
    /// ended.
    bool waitForWorker(std::chrono::milliseconds limit) const;
    /// A batch that ends from now on plays no sound (the program is quitting).
    void silence() { m_silent = true; }

    /// Where progress reports of conversion `conversion` land on the main thread: the
    /// fraction is shown only while that very conversion is still running.
    void applyProgress(std::uint64_t conversion, double fraction);

signals:
    void activeChanged();
    /// A round of starts and outcomes is about to reach the jobs; `delivered` follows
    /// once it has.
    void delivering();
    void delivered();
    /// The running jobs' progress was shown (every progressInterval while one runs).
    void ticked();
    /// A job that was running has its outcome (done, failed or cancelled).
    void jobFinished(lumatra::Job* job);
    /// The batch is over; `sound` is "Glass", or "Basso" when a conversion failed, or
    /// empty when the runner was silenced.
    void batchFinished(const QString& sound);

private:
    struct Running {
        std::uint64_t ticket = 0;
        // Empty for a conversion whose job left the queue as it started; it is stopped.
        QPointer<Job> job;
    };

    void scheduleSync();
    void sync();
    void started(std::uint64_t ticket);
    void finished(std::uint64_t ticket, const ConversionPool::Outcome& outcome);
    // Called by the workers: the event runs on the main thread, at once or, while the
    // progress clock runs and `now` is false, with its next tick.
    void report(std::function<void()> event, bool now = false);
    void wakeForReports();
    void takeReports();
    void startClock();
    void stopClock();
    void showProgress();
    void endIfDone();
    Running* runningOf(std::uint64_t ticket);
    bool hasQueued() const;

    JobListModel& m_jobs;
    OptionsSource m_options;
    int m_budget = 1;
    bool m_active = false;
    bool m_silent = false;
    bool m_syncScheduled = false;
    int m_failures = 0;
    std::uint64_t m_lastTicket = 0;
    // Queued jobs handed to the pool, both ways.
    std::unordered_map<const Job*, std::uint64_t> m_ticketOf;
    std::unordered_map<std::uint64_t, QPointer<Job>> m_planned;
    // In the order they started.
    std::vector<Running> m_running;

    // Written by the workers: the latest fraction of each conversion, and the starts
    // and outcomes the main thread has not taken yet. The main thread is woken for
    // them only while the progress clock stands still.
    std::mutex m_reportLock;
    std::unordered_map<std::uint64_t, double> m_progress;
    std::vector<std::function<void()>> m_inbox;
    bool m_clockRunning = false;
    bool m_wakeupPosted = false;
    QTimer m_progressTimer;

    // Last: its workers stop and are waited for before the rest goes.
    std::unique_ptr<ConversionPool> m_pool;
};

} // namespace lumatra
