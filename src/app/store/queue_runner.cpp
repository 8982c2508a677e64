#include "store/queue_runner.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace lumatra {

namespace {
// Scheduling niceness of a video conversion and the encoder it starts.
constexpr int videoNiceness = 10;

} // namespace

int QueueRunner::machineBudget() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

QueueRunner::QueueRunner(JobListModel& jobs, OptionsSource options, QObject* parent)
    : QObject(parent), m_jobs(jobs), m_options(std::move(options)), m_budget(machineBudget()) {
    m_progressTimer.setInterval(progressInterval);
    connect(&m_progressTimer, &QTimer::timeout, this, &QueueRunner::showProgress);

    ConversionPool::Events events;
    // Starts and outcomes reach the main thread in the order the workers saw them.
    events.started = [this](std::uint64_t ticket) { report([this, ticket] { started(ticket); }); };
    events.progress = [this](std::uint64_t ticket, double fraction) {
        std::lock_guard lock(m_reportLock);
        m_progress[ticket] = fraction;
    };
    events.finished = [this](std::uint64_t ticket, const ConversionPool::Outcome& outcome) {
        // The last outcome of a batch is shown at once, not at the next tick.
        report([this, ticket, outcome] { finished(ticket, outcome); }, outcome.poolIdle);
    };
    m_pool = std::make_unique<ConversionPool>(std::move(events), m_budget);

    // During a batch every change of a job's state or of the list reaches the plan.
    const auto replan = [this] {
        if (m_active) scheduleSync();
    };
    connect(&m_jobs, &JobListModel::jobChanged, this, replan);
    connect(&m_jobs, &JobListModel::countChanged, this, replan);
}

QueueRunner::~QueueRunner() {
    // Every worker is stopped and waited for while the rest still exists.
    m_pool.reset();
}

std::uint64_t QueueRunner::conversionOf(const Job* job) const {
    for (const Running& running : m_running)
        if (job && running.job == job) return running.ticket;
    return 0;
}

void QueueRunner::setBudget(int cores) {
    m_budget = std::max(1, cores);
    m_pool->setBudget(m_budget);
    if (m_active) scheduleSync();
}

bool QueueRunner::isVideo(const Job& job) {
    return takesEveryCore(job.kind(), job.target());
}

int QueueRunner::weightOf(const Job& job) const {
    return isVideo(job) ? m_budget : 1;
}

void QueueRunner::start() {
    if (!m_active) {
        m_active = true;
        m_failures = 0;
        emit activeChanged();
    }
    // Like a task started now, the runner takes its first jobs once this call is over.
    scheduleSync();
}

void QueueRunner::optionsChanged() {
    m_pool->setOptions(m_options());
}

void QueueRunner::scheduleSync() {
    if (m_syncScheduled) return;
    m_syncScheduled = true;
    QMetaObject::invokeMethod(this, &QueueRunner::sync, Qt::QueuedConnection);
}

void QueueRunner::sync() {
    m_syncScheduled = false;
    if (!m_active) return;
    // The plan is the queued jobs in list order; a job keeps its ticket while it waits,
    // so one a worker has taken already is not started twice.
    std::vector<ConversionPool::Request> plan;
    std::unordered_map<const Job*, std::uint64_t> tickets;
    std::unordered_map<std::uint64_t, QPointer<Job>> planned;
    for (const auto& job : m_jobs.jobs()) {
        if (job->status() != Job::Status::Queued) continue;
        const auto known = m_ticketOf.find(job.get());
        const std::uint64_t ticket = known != m_ticketOf.end() ? known->second : ++m_lastTicket;
        tickets.emplace(job.get(), ticket);
        planned.emplace(ticket, job.get());
        const bool fillsEveryCore = isVideo(*job);
        plan.push_back({ticket, job->path(), job->target(), weightOf(*job),
                        fillsEveryCore ? videoNiceness : 0});
    }
    // A job that left the queue meanwhile and was taken all the same is stopped when
    // its start arrives.
    m_ticketOf = std::move(tickets);
    m_planned = std::move(planned);
    m_pool->setOptions(m_options());
    m_pool->plan(std::move(plan));
    endIfDone();
}

bool QueueRunner::withdraw(Job* job) {
    const auto known = m_ticketOf.find(job);
    if (known == m_ticketOf.end()) return true;
    const std::uint64_t ticket = known->second;
    m_ticketOf.erase(known);
    m_planned.erase(ticket);
    if (m_pool->withdraw(ticket)) return true;
    // A worker has it: it runs from now on, as far as the views know too.
    job->markRunning(0);
    m_running.push_back({ticket, job});
    startClock();
    return false;
}

void QueueRunner::started(std::uint64_t ticket) {
    if (runningOf(ticket)) return; // known since it was withdrawn
    QPointer<Job> job;
    if (const auto found = m_planned.find(ticket); found != m_planned.end()) {
        job = found->second;
        m_planned.erase(found);
        if (job) m_ticketOf.erase(job.data());
    }
    if (!job || job->status() != Job::Status::Queued || m_jobs.rowOf(job) < 0) {
        // Its job no longer waits for it.
        m_pool->cancel(ticket);
        m_running.push_back({ticket, nullptr});
        return;
    }
    job->markRunning(0);
    m_running.push_back({ticket, job});
    startClock();
}

bool QueueRunner::workerIdle() const {
    return m_pool->idle();
}

bool QueueRunner::waitForWorker(std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!workerIdle()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void QueueRunner::cancelRunning(const Job* job) {
    for (const Running& running : m_running)
        if (job && running.job == job) m_pool->cancel(running.ticket);
}

QueueRunner::Running* QueueRunner::runningOf(std::uint64_t ticket) {
    for (Running& running : m_running)
        if (running.ticket == ticket) return &running;
    return nullptr;
}

void QueueRunner::applyProgress(std::uint64_t conversion, double fraction) {
    const Running* running = conversion == 0 ? nullptr : runningOf(conversion);
    if (!running || !running->job) return;
    if (running->job->status() != Job::Status::Running) return;
    running->job->markRunning(fraction);
}

void QueueRunner::report(std::function<void()> event, bool now) {
    // While jobs run, the rows change together on the progress clock: a batch of quick
    // jobs costs a few frames a second, not two per job, and the main thread is not
    // woken for each of them either.
    std::lock_guard lock(m_reportLock);
    m_inbox.push_back(std::move(event));
    if (now || !m_clockRunning) wakeForReports();
}

void QueueRunner::wakeForReports() {
    if (std::exchange(m_wakeupPosted, true)) return;
    QMetaObject::invokeMethod(this, &QueueRunner::takeReports, Qt::QueuedConnection);
}

void QueueRunner::takeReports() {
    emit delivering();
    // In the order the workers reported them, including those that arrive meanwhile.
    for (;;) {
        std::vector<std::function<void()>> events;
        {
            std::lock_guard lock(m_reportLock);
            events.swap(m_inbox);
            if (events.empty()) {
                m_wakeupPosted = false;
                break;
            }
        }
        for (const auto& event : events)
            event();
    }
    // Only now: within a round one job's outcome may come before the next one's start.
    if (m_running.empty()) stopClock();
    emit delivered();
}

void QueueRunner::startClock() {
    if (m_progressTimer.isActive()) return;
    m_progressTimer.start();
    std::lock_guard lock(m_reportLock);
    m_clockRunning = true;
}

void QueueRunner::stopClock() {
    m_progressTimer.stop();
    std::lock_guard lock(m_reportLock);
    m_clockRunning = false;
    // What came in for the next tick is taken now.
    if (!m_inbox.empty()) wakeForReports();
}

void QueueRunner::showProgress() {
    takeReports();
    std::unordered_map<std::uint64_t, double> latest;
    {
        std::lock_guard lock(m_reportLock);
        latest.swap(m_progress);
    }
    for (const auto& [ticket, fraction] : latest)
        applyProgress(ticket, fraction);
    emit ticked();
}

void QueueRunner::finished(std::uint64_t ticket, const ConversionPool::Outcome& outcome) {
    const auto found =
        std::find_if(m_running.begin(), m_running.end(),
                     [&](const Running& running) { return running.ticket == ticket; });
    if (found == m_running.end()) return;
    const QPointer<Job> job = found->job;
    m_running.erase(found);
    {
        std::lock_guard lock(m_reportLock);
        m_progress.erase(ticket);
    }

    if (job) {
        switch (outcome.kind) {
        case ConversionPool::Outcome::Kind::done:
            job->markDone(outcome.result);
            break;
        case ConversionPool::Outcome::Kind::cancelled:
            job->markCancelled();
            break;
        case ConversionPool::Outcome::Kind::failed:
            job->markFailed(QString::fromStdString(outcome.message));
            ++m_failures;
            break;
        }
        emit jobFinished(job);
    }
    endIfDone();
}

bool QueueRunner::hasQueued() const {
    const auto& jobs = m_jobs.jobs();
    return std::any_of(jobs.begin(), jobs.end(),
                       [](const auto& job) { return job->status() == Job::Status::Queued; });
}

void QueueRunner::endIfDone() {
    // A job the pool has taken stays queued here until its start arrives.
    if (!m_active || !m_running.empty() || hasQueued()) return;
    m_active = false;
    m_ticketOf.clear();
    m_planned.clear();
    m_pool->plan({});
    emit activeChanged();
    QString sound;
    if (!m_silent) sound = m_failures == 0 ? QStringLiteral("Glass") : QStringLiteral("Basso");
    emit batchFinished(sound);
}

} // namespace lumatra
