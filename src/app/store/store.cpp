#include "store/store.h"

#include "store/file_intake.h"
#include "store/qt_text.h"

#include "platform/file_manager.h"

#include <QCoreApplication>
#include <QPointer>

#include <utility>

namespace lumatra {
namespace fs = std::filesystem;

namespace {

const QString fileManagerMissingText =
    QStringLiteral("Не удалось открыть файловый менеджер: ни один не ответил. "
                   "Установите файловый менеджер или откройте папку вручную.");

} // namespace

// Coalesces the store's change notifications over a bulk operation: one round of
// signals at the end instead of one per job.
class Store::Batch {
public:
    explicit Batch(Store& store) : m_store(store) { ++m_store.m_batchDepth; }
    ~Batch() {
        if (--m_store.m_batchDepth == 0 && m_store.m_batchDirty) m_store.jobChanged();
    }

private:
    Store& m_store;
};

Store::Store(QObject* parent)
    : QObject(parent), m_jobs(new JobListModel(this)), m_settings(new ConversionSettings(this)),
      m_runner(new QueueRunner(
          *m_jobs,
          [this] {
              // A batch converts at the quality it started with.
              Options options;
              options.quality =
                  m_runner && m_runner->isActive() ? m_batchQuality : m_settings->quality();
              options.outputDirectory = m_settings->outputDirectory();
              return options;
          },
          this)),
      m_status(new BatchStatus(*m_jobs, *m_runner, this)), m_bulk(*m_jobs) {
    forwardSignals();
    connect(m_jobs, &JobListModel::jobChanged, this, &Store::jobChanged);
    connect(m_jobs, &JobListModel::countChanged, this, &Store::jobChanged);
    // A round of outcomes changes the totals once, not once per job: the footer and the
    // bar re-evaluate a single time however many jobs ended.
    connect(m_runner, &QueueRunner::delivering, this,
            [this] { m_delivery = std::make_unique<Batch>(*this); });
    connect(m_runner, &QueueRunner::delivered, this, [this] { m_delivery.reset(); });
    connect(m_runner, &QueueRunner::ticked, this, [this] {
        ++m_tick;
        emit tickChanged();
        m_status->update(true);
    });
    connect(this, &Store::qualityChanged, this, &Store::qualityNoteChanged);
    connect(m_runner, &QueueRunner::activeChanged, this, [this] {
        emit qualityNoteChanged();
        // The title of an ended batch comes with its summary (BatchStatus::end).
        m_status->update();
        if (m_runner->isActive()) m_status->refreshTitle();
    });
    connect(this, &Store::qualityChanged, m_runner, &QueueRunner::optionsChanged);
    connect(this, &Store::outputDirectoryChanged, m_runner, &QueueRunner::optionsChanged);
    connect(m_runner, &QueueRunner::jobFinished, this, &Store::jobFinished);
    connect(m_runner, &QueueRunner::batchFinished, m_status, &BatchStatus::end);
}

// The parts' changes are the store's, for QML's one object.
void Store::forwardSignals() {
    connect(m_settings, &ConversionSettings::qualityChanged, this, &Store::qualityChanged);
    connect(m_settings, &ConversionSettings::outputDirectoryChanged, this,
            &Store::outputDirectoryChanged);
    connect(m_settings, &ConversionSettings::ffmpegMissingChanged, this,
            &Store::ffmpegMissingChanged);
    connect(m_runner, &QueueRunner::activeChanged, this, &Store::busyChanged);
    connect(m_status, &BatchStatus::textChanged, this, &Store::batchTextChanged);
    connect(m_status, &BatchStatus::progressChanged, this, &Store::batchProgressChanged);
    connect(m_status, &BatchStatus::activeRowChanged, this, &Store::activeRowChanged);
    connect(m_status, &BatchStatus::summaryChanged, this, &Store::summaryChanged);
    connect(m_status, &BatchStatus::windowTitleChanged, this, &Store::windowTitleChanged);
    connect(m_status, &BatchStatus::badgeChanged, this, &Store::badgeChanged);
    connect(m_status, &BatchStatus::finished, this, &Store::batchFinished);
}

// The runner, a child, stops and waits for its conversion before the list goes.
Store::~Store() {
    delete m_runner;
}

Store* Store::shared() {
    static QPointer<Store> instance;
    if (!instance) instance = new Store(QCoreApplication::instance());
    return instance;
}

Store* Store::create(QQmlEngine*, QJSEngine*) {
    Store* store = shared();
    QJSEngine::setObjectOwnership(store, QJSEngine::CppOwnership);
    return store;
}

QString Store::convertTitle() const {
    const int ready = readyCount();
    if (ready > 1) return QStringLiteral("Конвертировать · ") + QString::number(ready);
    return QStringLiteral("Конвертировать");
}

void Store::jobChanged() {
    if (m_batchDepth > 0) {
        m_batchDirty = true;
        return;
    }
    m_batchDirty = false;
    const JobCounts counts = m_jobs->counts();
    // A finished job made ready again (a new target) is the user's next step.
    if (!isBusy() && m_lastCounts && counts.ready > m_lastCounts->ready) dismissSummary();
    if (counts != m_lastCounts) {
        m_lastCounts = counts;
        emit countsChanged();
    }
    m_status->updateBadge();
    m_status->update();
    // The bar rebuilds its rows on this signal: only for a real change, not for every
    // job that starts or ends.
    QVariantList bulk = bulkKinds();
    if (bulk != m_lastBulk) {
        m_lastBulk = std::move(bulk);
        emit bulkChanged();
    }
}

void Store::jobFinished(Job* job) {
    if (job->kind() == Kind::document) m_preparation.noteTextEngineUsed();
    // A chosen folder that went away mid-batch fails every job running then: said
    // once, with a way to convert them again.
    const auto& folder = m_settings->outputDirectory();
    if (job->status() == Job::Status::Failed && folder && !m_toldFolderGone) {
        std::error_code error;
        if (!fs::is_directory(*folder, error)) {
            m_toldFolderGone = true;
            say(QStringLiteral("Папки «") + outputDirectoryName() +
                    QStringLiteral("» больше нет: файлы, которые конвертировались в неё, "
                                   "не сохранены."),
                NoticeAction::retryFailed);
        }
    }
    m_status->updateBadge();
}

// Adding and removing

int Store::add(const QList<QUrl>& urls) {
    std::vector<fs::path> paths;
    for (const QUrl& url : urls)
        if (url.isLocalFile()) paths.push_back(localPath(url.toLocalFile()));
    return add(paths);
}

int Store::addPaths(const QStringList& paths) {
    std::vector<fs::path> list;
    for (const QString& path : paths)
        list.push_back(localPath(path));
    return add(list);
}

int Store::add(const std::vector<fs::path>& paths) {
    Intake intake = takeIn(*m_jobs, paths);
    dismissSummary();
    std::vector<Job*> videos;
    for (const auto& job : intake.jobs)
        if (job->kind() == Kind::video) videos.push_back(job.get());
    m_jobs->append(std::move(intake.jobs));
    for (Job* video : videos)
        Preparation::probeSound(video);
    if (intake.skippedAny()) say(skippedText(intake.unknown, intake.twice, intake.missing));
    if (m_preparesConversions) {
        m_preparation.prepare(*m_jobs);
        m_runner->preparePool();
    }
    return intake.refused;
}

bool Store::owns(const Job* job) const {
    return job && m_jobs->rowOf(job) >= 0;
}

void Store::remove(Job* job) {
    if (!owns(job)) return;
    // A queued job a worker has just taken is running.
    if (job->status() == Job::Status::Queued && !m_runner->withdraw(job)) return;
    if (job->status() == Job::Status::Running) return;
    const QUuid id = job->id();
    dismissSummary();
    m_jobs->removeIf([&](const Job& candidate) { return candidate.id() == id; });
    m_status->updateBadge();
}

void Store::clearFinished() {
    dismissSummary();
    m_jobs->removeIf([](const Job& job) { return job.isFinished(); });
}

void Store::removeUnstarted() {
    dismissSummary();
    {
        Batch batch(*this);
        // A queued job a worker has just taken is running, and stays.
        for (const auto& job : m_jobs->jobs())
            if (job->status() == Job::Status::Queued) m_runner->withdraw(job.get());
    }
    m_jobs->removeIf([](const Job& job) {
        return job.status() == Job::Status::Ready || job.status() == Job::Status::Queued;
    });
    m_status->updateBadge();
}

void Store::openResult(Job* job) {
    if (!owns(job) || job->status() != Job::Status::Done) return;
    if (job->checkResult() || job->resultMissing()) return; // the row says it is gone
    if (!FileManager::open(job->outputUrl()))
        say(QStringLiteral("Не удалось открыть «") + qtPath(job->result()->output.filename()) +
            QStringLiteral("»: для таких файлов нет программы."));
}

void Store::checkResults() {
    for (const auto& job : m_jobs->jobs())
        job->checkResult();
}

// The queue

void Store::convert(Job* job) {
    if (!owns(job) || job->isPending()) return;
    // A retry converts the file as it is now, and the row says how large that is.
    if (job->isFinished()) job->measure();
    // The views hear of the job leaving the ready ones once the batch is under way.
    Batch batch(*this);
    job->markQueued();
    startIfNeeded();
}

void Store::retryFailed() {
    Batch batch(*this);
    for (const auto& job : m_jobs->jobs()) {
        if (job->status() != Job::Status::Failed) continue;
        job->measure();
        job->markQueued();
    }
    startIfNeeded();
}

void Store::convertAll() {
    // With only failed jobs left, the main button tries them again.
    if (readyCount() == 0 && failedCount() > 0) {
        retryFailed();
        return;
    }
    // The views hear of the jobs leaving the ready ones once the batch is under way.
    Batch batch(*this);
    for (const auto& job : m_jobs->jobs())
        if (job->status() == Job::Status::Ready) job->markQueued();
    startIfNeeded();
}

void Store::cancel(Job* job) {
    if (!owns(job)) return;
    switch (job->status()) {
    case Job::Status::Running:
        // The job becomes cancelled when its conversion has actually stopped.
        m_runner->cancelRunning(job);
        return;
    case Job::Status::Queued:
        if (m_runner->withdraw(job)) {
            job->markReady();
        } else {
            // A worker had just taken it: it stops like any running job.
            m_runner->cancelRunning(job);
        }
        return;
    case Job::Status::Ready:
    case Job::Status::Done:
    case Job::Status::Failed:
    case Job::Status::Cancelled:
        return;
    }
}

void Store::cancelAll() {
    Batch batch(*this);
    for (const auto& job : m_jobs->jobs())
        if (!job->isFinished()) cancel(job.get());
}

void Store::stopForQuit() {
    m_runner->silence();
    cancelAll();
}

void Store::startIfNeeded() {
    // During a batch the runner looks again for room; the badge catches up as jobs end.
    if (!m_runner->isActive()) {
        // A new batch: its own count, clock and quality.
        for (const auto& job : m_jobs->jobs())
            job->setInBatch(false);
        m_batchQuality = m_settings->quality();
        m_toldFolderGone = false;
        m_status->begin();
    }
    // Jobs queued while a batch runs join it.
    for (const auto& job : m_jobs->jobs())
        if (job->status() == Job::Status::Queued) job->setInBatch(true);
    m_runner->start();
    m_status->update();
}

QString Store::qualityNote() const {
    if (!m_runner->isActive() || quality() == m_batchQuality) return {};
    return QStringLiteral("«") + qtText(title(quality())) +
           QStringLiteral("» — со следующего запуска");
}

// The bulk bar

void Store::setTarget(Format format, Kind kind) {
    Batch batch(*this);
    m_bulk.choose(format, kind);
    m_batchDirty = true;
}

void Store::setTarget(const QString& format, const QString& kind) {
    const auto parsedFormat = formatFromRaw(format.toStdString());
    const auto parsedKind = kindFromRaw(kind.toStdString());
    if (parsedFormat && parsedKind) setTarget(*parsedFormat, *parsedKind);
}

// The notice

void Store::say(const QString& text, NoticeAction action) {
    const QString label =
        action == NoticeAction::retryFailed ? QStringLiteral("Повторить") : QString();
    if (text == m_notice && label == m_noticeAction) return;
    m_notice = text;
    m_noticeAction = label;
    m_noticeDoes = action;
    emit noticeChanged();
}

void Store::runNoticeAction() {
    const NoticeAction action = m_noticeDoes;
    say({});
    if (action == NoticeAction::retryFailed) retryFailed();
}

void Store::dismissNotice() {
    say({});
}

void Store::reveal(const QUrl& file) {
    FileManager::reveal(file, [store = QPointer<Store>(this)] {
        if (store) store->say(fileManagerMissingText);
    });
}

void Store::openFolder(const QUrl& folder) {
    if (!FileManager::open(folder)) say(fileManagerMissingText);
}

} // namespace lumatra
