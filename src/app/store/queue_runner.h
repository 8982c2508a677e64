#pragma once
// The conversion queue of the store: starts queued jobs in list order, as many at once
// as the machine's cores allow, converts each on a worker thread of its own and records
// the outcomes, until no job is queued.

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
#include <vector>

namespace lumatra {

/// Confined to the main thread, like the job list it works off. Conversions run on worker
/// threads, with copies of the job's file and target and of the options as they are when
/// the job starts; progress and outcomes come back as queued calls. The runner never adds
/// or removes jobs; it only changes their status.
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

    /// `jobs` must outlive the runner. The budget starts as machineBudget().
    QueueRunner(JobListModel& jobs, OptionsSource options, QObject* parent = nullptr);
    /// Stops every running conversion and waits for its worker, so that no temporary
    /// output and no external program outlives the runner.
    ~QueueRunner() override;

    /// A batch is being worked off.
    bool isActive() const { return m_active; }
    /// How many jobs are converting now.
    int runningCount() const { return static_cast<int>(m_running.size()); }
    /// The conversion of `job` in progress (0 when it has none); each conversion gets a
    /// new number.
    std::uint64_t conversionOf(const Job* job) const;

    int budget() const { return m_budget; }
    /// Cores the queue may fill (values below 1 count as 1); takes effect for the jobs
    /// started from now on.
    void setBudget(int cores);
    /// What `job` takes of the budget: all of it for video, else one core.
    int weightOf(const Job& job) const;

    /// Starts a batch unless one is under way; the first jobs are taken once control is
    /// back in the event loop. During a batch, looks again for jobs that fit.
    void start();
    /// Asks the conversion of `job` to stop when it is running. The job becomes
    /// cancelled when the conversion has actually stopped.
    void cancelRunning(const Job* job);
    /// Whether every conversion worker has ended (its programs reaped, its unfinished
    /// output removed).
    bool workerIdle() const;
    /// Blocks until every worker has ended or `limit` has passed; true when they ended.
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
    struct Running;

    void fill();
    void scheduleFill();
    void process(Job* job, int weight);
    void finish(std::uint64_t conversion, const Outcome& outcome);
    Running* runningOf(std::uint64_t conversion) const;

    JobListModel& m_jobs;
    OptionsSource m_options;
    int m_budget = 1;
    int m_used = 0;
    bool m_active = false;
    bool m_silent = false;
    bool m_fillScheduled = false;
    int m_failures = 0;
    std::uint64_t m_lastConversion = 0;
    // In the order they started.
    std::vector<std::unique_ptr<Running>> m_running;
};

} // namespace lumatra
