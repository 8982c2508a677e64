#include "store/queue_runner.h"

#include "converter/converter.h"
#include "tools/tools.h"

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>

namespace lumatra {
namespace fs = std::filesystem;

namespace {
// Scheduling niceness of the conversion thread and what it starts.
constexpr int conversionNiceness = 10;
} // namespace

/// How a conversion ended, carried from the worker to the main thread.
struct QueueRunner::Outcome {
    enum class Kind { done, failed, cancelled } kind = Kind::failed;
    ConvertResult result;
    QString message;
};

QueueRunner::QueueRunner(JobListModel& jobs, OptionsSource options, QObject* parent)
    : QObject(parent), m_jobs(jobs), m_options(std::move(options)) {}

QueueRunner::~QueueRunner() {
    if (m_worker.joinable()) {
        m_worker.request_stop();
        m_worker.join();
    }
}

void QueueRunner::start() {
    if (m_active) return;
    m_active = true;
    m_failures = 0;
    emit activeChanged();
    // Like a task started now, the runner takes its first job once this call is over.
    QMetaObject::invokeMethod(this, &QueueRunner::runNext, Qt::QueuedConnection);
}

void QueueRunner::cancelRunning(const Job* job) {
    if (job && job == m_current && m_worker.joinable()) m_worker.request_stop();
}

bool QueueRunner::workerIdle() const {
    return m_workerDone->load();
}

bool QueueRunner::waitForWorker(std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!workerIdle()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void QueueRunner::runNext() {
    // The list is searched afresh each time: jobs queued meanwhile join in list order.
    for (const auto& job : m_jobs.jobs()) {
        if (job->status() == Job::Status::Queued) {
            process(job.get());
            return;
        }
    }
    m_active = false;
    emit activeChanged();
    QString sound;
    if (!m_silent) sound = m_failures == 0 ? QStringLiteral("Glass") : QStringLiteral("Basso");
    emit batchFinished(sound);
}

void QueueRunner::process(Job* job) {
    job->markRunning(0);
    // The conversion works on copies taken now; later changes apply to later jobs.
    const Options options = m_options();
    const fs::path source = job->path();
    const Format target = job->target();
    const std::uint64_t conversion = ++m_lastConversion;
    m_conversion = conversion;
    m_current = job;

    if (m_worker.joinable()) m_worker.join();
    m_workerDone = std::make_shared<std::atomic<bool>>(false);
    auto done = m_workerDone;
    m_worker = std::jthread([this, conversion, source, target, options,
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
}

void QueueRunner::applyProgress(std::uint64_t conversion, double fraction) {
    if (conversion == 0 || conversion != m_conversion || !m_current) return;
    if (m_current->status() != Job::Status::Running) return;
    m_current->markRunning(fraction);
}

void QueueRunner::finish(std::uint64_t conversion, const Outcome& outcome) {
    if (conversion != m_conversion) return;
    Job* job = m_current;
    m_current = nullptr;
    m_conversion = 0;
    if (m_worker.joinable()) m_worker.join();

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
    runNext();
}

} // namespace lumatra
