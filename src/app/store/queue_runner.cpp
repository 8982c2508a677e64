#include "store/queue_runner.h"

#include "converter/converter.h"
#include "tools/tools.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace lumatra {
namespace fs = std::filesystem;

namespace {
// Scheduling niceness of the conversion threads and what they start.
constexpr int conversionNiceness = 10;

// Targets written by a video encoder, which spreads over every core by itself. A GIF is
// left out: from a still image it is one libvips save.
bool isVideoTarget(Format format) {
    switch (format) {
    case Format::mp4:
    case Format::hevc:
    case Format::mov:
    case Format::webm:
    case Format::mkv:
        return true;
    default:
        return false;
    }
}
} // namespace

/// How a conversion ended, carried from the worker to the main thread.
struct QueueRunner::Outcome {
    enum class Kind { done, failed, cancelled } kind = Kind::failed;
    ConvertResult result;
    QString message;
};

/// One conversion in progress. Destroying it stops its worker and waits for it.
struct QueueRunner::Running {
    QPointer<Job> job;
    std::uint64_t conversion = 0;
    int weight = 1;
    // Set by the worker as its very last step.
    std::shared_ptr<std::atomic<bool>> done = std::make_shared<std::atomic<bool>>(false);
    std::jthread worker;
};

int QueueRunner::machineBudget() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

QueueRunner::QueueRunner(JobListModel& jobs, OptionsSource options, QObject* parent)
    : QObject(parent), m_jobs(jobs), m_options(std::move(options)), m_budget(machineBudget()) {}

QueueRunner::~QueueRunner() {
    // Ask every worker first, so that they stop side by side, then wait for each.
    for (const auto& running : m_running)
        running->worker.request_stop();
    m_running.clear();
}

std::uint64_t QueueRunner::conversionOf(const Job* job) const {
    for (const auto& running : m_running)
        if (job && running->job == job) return running->conversion;
    return 0;
}

void QueueRunner::setBudget(int cores) {
    m_budget = std::max(1, cores);
    if (m_active) scheduleFill();
}

int QueueRunner::weightOf(const Job& job) const {
    return job.kind() == Kind::video || isVideoTarget(job.target()) ? m_budget : 1;
}

void QueueRunner::start() {
    if (!m_active) {
        m_active = true;
        m_failures = 0;
        emit activeChanged();
    }
    // Like a task started now, the runner takes its first jobs once this call is over.
    scheduleFill();
}

void QueueRunner::scheduleFill() {
    if (m_fillScheduled) return;
    m_fillScheduled = true;
    QMetaObject::invokeMethod(this, &QueueRunner::fill, Qt::QueuedConnection);
}

void QueueRunner::cancelRunning(const Job* job) {
    for (const auto& running : m_running)
        if (job && running->job == job) running->worker.request_stop();
}

bool QueueRunner::workerIdle() const {
    return std::all_of(m_running.begin(), m_running.end(),
                       [](const auto& running) { return running->done->load(); });
}

bool QueueRunner::waitForWorker(std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!workerIdle()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void QueueRunner::fill() {
    m_fillScheduled = false;
    if (!m_active) return;
    for (;;) {
        // The list is searched afresh each time: jobs queued meanwhile join in list order.
        Job* next = nullptr;
        for (const auto& job : m_jobs.jobs()) {
            if (job->status() == Job::Status::Queued) {
                next = job.get();
                break;
            }
        }
        if (!next) break;
        const int weight = weightOf(*next);
        // The first queued job waits for room, and the ones after it wait with it.
        if (!m_running.empty() && m_used + weight > m_budget) return;
        process(next, weight);
    }
    if (!m_running.empty()) return;
    m_active = false;
    emit activeChanged();
    QString sound;
    if (!m_silent) sound = m_failures == 0 ? QStringLiteral("Glass") : QStringLiteral("Basso");
    emit batchFinished(sound);
}

void QueueRunner::process(Job* job, int weight) {
    job->markRunning(0);
    // The conversion works on copies taken now; later changes apply to later jobs.
    const Options options = m_options();
    const fs::path source = job->path();
    const Format target = job->target();
    const std::uint64_t conversion = ++m_lastConversion;

    auto running = std::make_unique<Running>();
    running->job = job;
    running->conversion = conversion;
    running->weight = weight;
    m_used += weight;
    auto done = running->done;
    running->worker = std::jthread([this, conversion, source, target, options,
                                    done](std::stop_token stop) {
        // The conversion and the programs it starts yield to the window: a busy encoder
        // still takes every idle cycle, but never a frame.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), conversionNiceness);
        Outcome outcome;
        const ProgressHandler progress = [this, conversion](double fraction) {
            QMetaObject::invokeMethod(
                this, [this, conversion, fraction] { applyProgress(conversion, fraction); },
                Qt::QueuedConnection);
        };
        try {
            outcome.result =
                Converter(Tools::locate()).run(source, target, options, progress, stop);
            outcome.kind = Outcome::Kind::done;
        } catch (const CancelledError&) {
            outcome.kind = Outcome::Kind::cancelled;
        } catch (const std::exception& error) {
            // A failure while being stopped is the stop showing through.
            outcome.kind = stop.stop_requested() ? Outcome::Kind::cancelled : Outcome::Kind::failed;
            outcome.message = QString::fromStdString(describe(error));
        } catch (...) {
            outcome.kind = stop.stop_requested() ? Outcome::Kind::cancelled : Outcome::Kind::failed;
            outcome.message = QStringLiteral("Не удалось конвертировать файл");
        }
        QMetaObject::invokeMethod(
            this, [this, conversion, outcome] { finish(conversion, outcome); },
            Qt::QueuedConnection);
        done->store(true);
    });
    m_running.push_back(std::move(running));
}

QueueRunner::Running* QueueRunner::runningOf(std::uint64_t conversion) const {
    for (const auto& running : m_running)
        if (running->conversion == conversion) return running.get();
    return nullptr;
}

void QueueRunner::applyProgress(std::uint64_t conversion, double fraction) {
    const Running* running = conversion == 0 ? nullptr : runningOf(conversion);
    if (!running || !running->job) return;
    if (running->job->status() != Job::Status::Running) return;
    running->job->markRunning(fraction);
}

void QueueRunner::finish(std::uint64_t conversion, const Outcome& outcome) {
    const auto found = std::find_if(m_running.begin(), m_running.end(), [&](const auto& running) {
        return running->conversion == conversion;
    });
    if (found == m_running.end()) return;
    const QPointer<Job> job = (*found)->job;
    m_used -= (*found)->weight;
    // The worker has handed over its outcome; this waits only for its last instructions.
    m_running.erase(found);

    if (job) {
        switch (outcome.kind) {
        case Outcome::Kind::done:
            job->markDone(outcome.result);
            break;
        case Outcome::Kind::cancelled:
            job->markCancelled();
            break;
        case Outcome::Kind::failed:
            job->markFailed(outcome.message);
            ++m_failures;
            break;
        }
        emit jobFinished(job);
    }
    fill();
}

} // namespace lumatra
