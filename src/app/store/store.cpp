#include "store/store.h"

#include "store/qt_text.h"

#include "converter/converter.h"
#include "converter/families.h"
#include "platform/file_manager.h"
#include "platform/launcher_badge.h"
#include "platform/notifications.h"
#include "platform/settings.h"
#include "platform/sounds.h"
#include "tools/tools.h"

#include <QCollator>
#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QThreadPool>
#include <QVariantMap>

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_set>
#include <utility>

namespace lumatra {
namespace fs = std::filesystem;

namespace {

// The text converter the conversions run, when it is our own: only ours knows the
// requests about its engines.
std::optional<fs::path> ownTextConverter() {
    fs::path textutil = Tools::locate().textutil;
    if (textutil.filename() != "lumatra-textutil") return std::nullopt;
    return textutil;
}

// File locations are compared as absolute, normalised paths without a trailing slash.
fs::path normalised(const fs::path& path) {
    std::error_code ignored;
    fs::path result = fs::absolute(path, ignored).lexically_normal();
    if (result.has_relative_path() && !result.has_filename()) result = result.parent_path();
    return result;
}

// Files and folders as the user handed them, with folders replaced by their visible
// entries sorted the way a file manager lists them. Paths that do not exist vanish;
// their names go to `missing`.
std::vector<fs::path> expand(const std::vector<fs::path>& paths, QStringList& missing) {
    // The C locale collates by code point and ignores numeric mode; a real locale's
    // rules stand in for it.
    QLocale locale;
    if (locale.language() == QLocale::C) locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);

    std::vector<fs::path> expanded;
    for (const fs::path& given : paths) {
        const fs::path path = normalised(given);
        std::error_code error;
        const auto status = fs::status(path, error);
        if (error || !fs::exists(status)) {
            if (path.has_filename()) missing.append(qtPath(path.filename()));
            continue;
        }
        if (!fs::is_directory(status) || lowercased(pathExtension(path)) == "rtfd") {
            expanded.push_back(path);
            continue;
        }
        std::vector<QString> names;
        for (fs::directory_iterator it(path, error), end; !error && it != end;
             it.increment(error)) {
            const std::string name = it->path().filename().native();
            if (name.empty() || name.front() == '.') continue;
            names.push_back(QFile::decodeName(QByteArray::fromStdString(name)));
        }
        if (error) continue; // an unreadable folder contributes nothing
        std::sort(names.begin(), names.end(), [&](const QString& a, const QString& b) {
            const int order = collator.compare(a, b);
            return order != 0 ? order < 0 : a < b;
        });
        for (const QString& name : names)
            expanded.push_back(path / localPath(name));
    }
    return expanded;
}

const QString fileManagerMissingText =
    QStringLiteral("Не удалось открыть файловый менеджер: ни один не ответил. "
                   "Установите файловый менеджер или откройте папку вручную.");

QString filesText(int count) {
    return countText(count, "файл", "файла", "файлов");
}

QString namesText(const QStringList& names) {
    QStringList shown = names.mid(0, 3);
    if (names.size() > 3) shown.append(QStringLiteral("…"));
    return QStringLiteral(" (") + shown.join(QStringLiteral(", ")) + QStringLiteral(")");
}

} // namespace

QString countText(int count, const char* one, const char* few, const char* many) {
    const int tens = std::abs(count) % 100;
    const int ones = std::abs(count) % 10;
    const char* word = (tens >= 11 && tens <= 14) ? many
                       : ones == 1                ? one
                       : (ones >= 2 && ones <= 4) ? few
                                                  : many;
    return QString::number(count) + QLatin1Char(' ') + QString::fromUtf8(word);
}

QString timeLeftText(double seconds) {
    if (!std::isfinite(seconds) || seconds < 10) return QStringLiteral("несколько секунд");
    if (seconds < 60)
        return QStringLiteral("~") + QString::number(static_cast<int>(std::ceil(seconds / 5)) * 5) +
               QStringLiteral(" с");
    return QStringLiteral("~") +
           QString::number(static_cast<long long>(std::lround(seconds / 60))) +
           QStringLiteral(" мин");
}

QString skippedText(const QStringList& unknown, int twice, const QStringList& missing) {
    QStringList parts;
    const auto lead = [&] { return parts.isEmpty() ? QStringLiteral("Пропущено: ") : QString(); };
    if (!missing.isEmpty()) {
        parts.append(lead() + filesText(static_cast<int>(missing.size())) +
                     QStringLiteral(" — не найден") +
                     (missing.size() > 1 ? QStringLiteral("о") : QString()) + namesText(missing));
    }
    if (!unknown.isEmpty()) {
        parts.append(lead() + filesText(static_cast<int>(unknown.size())) +
                     QStringLiteral(" — такие файлы Lumatra не конвертирует") + namesText(unknown));
    }
    if (twice > 0) parts.append(lead() + filesText(twice) + QStringLiteral(" уже в списке"));
    return parts.join(QStringLiteral("; ")) + QStringLiteral(".");
}

namespace {

std::optional<Kind> kindNamed(const QString& name) {
    return kindFromRaw(name.toStdString());
}

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
    : QObject(parent), m_jobs(new JobListModel(this)), m_settings(new AppSettings(this)),
      m_runner(new QueueRunner(
          *m_jobs,
          [this] {
              // A batch converts at the quality it started with.
              Options options;
              options.quality = m_runner && m_runner->isActive() ? m_batchQuality : m_quality;
              options.outputDirectory = m_outputDirectory;
              return options;
          },
          this)) {
    // The saved values go through the setters, which write them back.
    setQuality(m_settings->quality());
    setOutputDirectory(m_settings->outputDirectory());
    m_ffmpegMissing = !Tools::locate().ffmpeg.has_value();

    connect(m_jobs, &JobListModel::jobChanged, this, &Store::jobChanged);
    connect(m_jobs, &JobListModel::countChanged, this, &Store::jobChanged);
    connect(m_runner, &QueueRunner::activeChanged, this, &Store::busyChanged);
    // A round of outcomes changes the totals once, not once per job: the footer and the
    // bar re-evaluate a single time however many jobs ended.
    connect(m_runner, &QueueRunner::delivering, this,
            [this] { m_delivery = std::make_unique<Batch>(*this); });
    connect(m_runner, &QueueRunner::delivered, this, [this] { m_delivery.reset(); });
    connect(m_runner, &QueueRunner::ticked, this, [this] {
        ++m_tick;
        emit tickChanged();
        updateBatch(true);
    });
    connect(this, &Store::qualityChanged, this, &Store::qualityNoteChanged);
    connect(m_runner, &QueueRunner::activeChanged, this, [this] {
        emit qualityNoteChanged();
        // The title of an ended batch comes with its summary (endBatch).
        updateBatch();
        if (m_runner->isActive()) refreshTitle();
    });
    connect(this, &Store::qualityChanged, m_runner, &QueueRunner::optionsChanged);
    connect(this, &Store::outputDirectoryChanged, m_runner, &QueueRunner::optionsChanged);
    connect(m_runner, &QueueRunner::jobFinished, this, [this](Job* job) {
        if (job->kind() == Kind::document) m_usedTextEngine = true;
        // A chosen folder that went away mid-batch fails every job running then: said
        // once, with a way to convert them again.
        if (job->status() == Job::Status::Failed && m_outputDirectory && !m_toldFolderGone) {
            std::error_code error;
            if (!fs::is_directory(*m_outputDirectory, error)) {
                m_toldFolderGone = true;
                say(QStringLiteral("Папки «") + outputDirectoryName() +
                        QStringLiteral("» больше нет: файлы, которые конвертировались в неё, "
                                       "не сохранены."),
                    NoticeAction::retryFailed);
            }
        }
        updateBadge();
    });
    connect(m_runner, &QueueRunner::batchFinished, this, &Store::endBatch);
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

// Settings

void Store::setQuality(Quality quality) {
    m_settings->setQuality(quality);
    if (quality == m_quality) return;
    m_quality = quality;
    emit qualityChanged();
}

QString Store::qualityName() const {
    return qtText(rawValue(m_quality));
}

void Store::setQualityName(const QString& name) {
    if (const auto quality = qualityFromRaw(name.toStdString())) setQuality(*quality);
}

QVariantList Store::qualities() {
    QVariantList list;
    for (Quality quality : allQualities)
        list.append(QVariantMap{{QStringLiteral("quality"), qtText(rawValue(quality))},
                                {QStringLiteral("title"), qtText(title(quality))}});
    return list;
}

void Store::setOutputDirectory(std::optional<fs::path> folder) {
    if (folder) folder = normalised(*folder);
    m_settings->setOutputDirectory(folder);
    if (folder == m_outputDirectory) return;
    m_outputDirectory = std::move(folder);
    emit outputDirectoryChanged();
}

QUrl Store::outputDirectoryUrl() const {
    if (!m_outputDirectory) return {};
    return QUrl::fromLocalFile(qtPath(*m_outputDirectory));
}

void Store::setOutputDirectoryUrl(const QUrl& url) {
    if (url.isEmpty()) {
        setOutputDirectory(std::nullopt);
        return;
    }
    // Only a folder of this machine can take outputs; anything else keeps the setting.
    if (!url.isLocalFile() || url.toLocalFile().isEmpty()) return;
    setOutputDirectory(localPath(url.toLocalFile()));
}

QString Store::outputDirectoryName() const {
    if (!m_outputDirectory) return {};
    // The root folder has no name of its own.
    const auto name = m_outputDirectory->filename();
    return qtPath(name.empty() ? *m_outputDirectory : name);
}

QString Store::outputDirectoryPath() const {
    return m_outputDirectory ? qtPath(*m_outputDirectory) : QString();
}

void Store::setFfmpegMissing(bool missing) {
    if (missing == m_ffmpegMissing) return;
    m_ffmpegMissing = missing;
    emit ffmpegMissingChanged();
}

void Store::checkFfmpeg() {
    setFfmpegMissing(!Tools::locate().ffmpeg.has_value());
}

// Counts

int Store::readyCount() const {
    const auto& jobs = m_jobs->jobs();
    return static_cast<int>(std::count_if(jobs.begin(), jobs.end(), [](const auto& job) {
        return job->status() == Job::Status::Ready;
    }));
}

int Store::pendingCount() const {
    const auto& jobs = m_jobs->jobs();
    return static_cast<int>(
        std::count_if(jobs.begin(), jobs.end(), [](const auto& job) { return job->isPending(); }));
}

bool Store::hasFinished() const {
    const auto& jobs = m_jobs->jobs();
    return std::any_of(jobs.begin(), jobs.end(), [](const auto& job) { return job->isFinished(); });
}

int Store::failedCount() const {
    const auto& jobs = m_jobs->jobs();
    return static_cast<int>(std::count_if(jobs.begin(), jobs.end(), [](const auto& job) {
        return job->status() == Job::Status::Failed;
    }));
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
    const int ready = readyCount();
    const int pending = pendingCount();
    const bool finished = hasFinished();
    // A finished job made ready again (a new target) is the user's next step.
    if (!isBusy() && ready > m_lastReady && m_lastReady >= 0) dismissSummary();
    if (ready != m_lastReady || pending != m_lastPending || finished != m_lastFinished ||
        failedCount() != m_lastFailed) {
        m_lastFailed = failedCount();
        m_lastReady = ready;
        m_lastPending = pending;
        m_lastFinished = finished;
        emit countsChanged();
    }
    updateBadge();
    updateBatch();
    // The bar rebuilds its rows on this signal: only for a real change, not for every
    // job that starts or ends.
    QVariantList bulk = bulkKinds();
    if (bulk != m_lastBulk) {
        m_lastBulk = std::move(bulk);
        emit bulkChanged();
    }
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
    QStringList missing;
    const auto expanded = expand(paths, missing);
    dismissSummary();

    std::unordered_set<std::string> active;
    for (const auto& job : m_jobs->jobs())
        if (job->isActive()) active.insert(job->path().native());

    // The target of the last ready job of each kind, which new jobs of the kind take over.
    std::array<std::optional<Format>, allKinds.size()> carried;
    std::array<bool, allKinds.size()> looked{};
    const auto& jobs = m_jobs->jobs();
    for (auto it = jobs.rbegin(); it != jobs.rend(); ++it) {
        const auto kind = static_cast<std::size_t>((*it)->kind());
        if (looked[kind] || (*it)->status() != Job::Status::Ready) continue;
        looked[kind] = true;
        // Only the user's own pick travels: a file's default is its own.
        if ((*it)->isChosen()) carried[kind] = (*it)->target();
    }

    int refused = 0;
    QStringList unknown;
    int twice = 0;
    std::vector<std::unique_ptr<Job>> fresh;
    for (const fs::path& path : expanded) {
        if (active.count(path.native())) {
            ++refused;
            ++twice;
            continue;
        }
        auto job = Job::make(path);
        if (!job) {
            ++refused;
            unknown.append(qtPath(path.filename()));
            continue;
        }
        const auto kind = static_cast<std::size_t>(job->kind());
        // A choice made for other files of the kind is carried over, but a file is not
        // proposed to become its own format (a PNG after JPG → PNG keeps its default).
        if (carried[kind] && !isSameFormat(*carried[kind], lowercased(pathExtension(path))))
            job->choose(*carried[kind]);
        active.insert(path.native());
        // A file that could not take the choice passes it on to the next one.
        if (job->isChosen()) carried[kind] = job->target();
        fresh.push_back(std::move(job));
    }
    std::vector<Job*> videos;
    for (const auto& job : fresh)
        if (job->kind() == Kind::video) videos.push_back(job.get());
    m_jobs->append(std::move(fresh));
    for (Job* video : videos)
        probeSound(video);
    if (!unknown.isEmpty() || twice > 0 || !missing.isEmpty())
        say(skippedText(unknown, twice, missing));
    if (m_preparesConversions) {
        prepareLibraries();
        prepareTextEngine();
        m_runner->preparePool();
    }
    return refused;
}

void Store::prepareLibraries() {
    bool media = false;
    bool images = false;
    for (const auto& job : m_jobs->jobs()) {
        media = media || job->kind() == Kind::audio || job->kind() == Kind::video;
        images = images || job->kind() == Kind::image;
    }
    // Loading a family's libraries takes a tenth of a second, and the first conversions
    // of a batch would wait for it side by side. A failure shows when a job converts.
    const auto load = [](auto family) {
        QThreadPool::globalInstance()->start([family] {
            try {
                family();
            } catch (const std::exception&) {
            }
        });
    };
    if (media && !std::exchange(m_mediaPrepared, true)) load(mediaFamily);
    if (images && !std::exchange(m_imagesPrepared, true)) load(imageFamily);
}

// A video without a sound track cannot become a song: its sound-only targets go as soon
// as a look into the file (on a pool thread, a few milliseconds) says so.
void Store::probeSound(Job* job) {
    QThreadPool::globalInstance()->start([job = QPointer<Job>(job), path = job->path()] {
        bool silent = false;
        try {
            const auto probe = Converter(Tools::locate()).probe(path);
            silent = probe.readable && probe.hasVideo && !probe.hasAudio;
        } catch (const std::exception&) {
        }
        if (!silent) return;
        QMetaObject::invokeMethod(QCoreApplication::instance(), [job] {
            if (job && job->status() == Job::Status::Ready) job->dropSoundTargets();
        });
    });
}

void Store::prepareTextEngine() {
    // Every document but a PDF goes through the text converter.
    int documents = 0;
    for (const auto& job : m_jobs->jobs())
        if (!job->isFinished() && job->kind() == Kind::document &&
            lowercased(pathExtension(job->path())) != "pdf")
            ++documents;
    if (documents == 0) return;
    // Engines wait a minute for work: asking again soon after is of no use.
    constexpr qint64 askAgainAfterMs = 30'000;
    if (m_textEnginePrepared.isValid() && m_textEnginePrepared.elapsed() < askAgainAfterMs) return;
    const auto textutil = ownTextConverter();
    if (!textutil) return;
    const QStringList arguments = {QStringLiteral("--warm-engines"),
                                   QString::number(std::min(documents, 9))};
    if (!QProcess::startDetached(qtPath(*textutil), arguments)) return;
    m_textEnginePrepared.start();
    m_usedTextEngine = true;
}

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
    updateBadge();
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
    updateBadge();
}

int Store::nextFailedRow(int after) const {
    const int count = m_jobs->count();
    for (int step = 1; step <= count; ++step) {
        const int row = ((after < 0 ? -1 : after) + step) % count;
        if (m_jobs->at(row)->status() == Job::Status::Failed) return row;
    }
    return -1;
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
    {
        Batch batch(*this);
        for (const auto& job : m_jobs->jobs()) {
            if (job->status() != Job::Status::Failed) continue;
            job->measure();
            job->markQueued();
        }
        startIfNeeded();
    }
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

void Store::releaseTextEngine() {
    if (!m_usedTextEngine) return;
    const auto textutil = ownTextConverter();
    if (!textutil) return;
    QProcess request;
    request.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    request.start(qtPath(*textutil), {QStringLiteral("--quit-engine")});
    if (!request.waitForFinished(2000)) {
        request.kill();
        request.waitForFinished(500);
    }
}

void Store::startIfNeeded() {
    // During a batch the runner looks again for room; the badge catches up as jobs end.
    if (!m_runner->isActive()) {
        // A new batch: its own count, clock and quality.
        for (const auto& job : m_jobs->jobs())
            job->setInBatch(false);
        m_batchQuality = m_quality;
        m_batchClock.start();
        m_toldFolderGone = false;
        dismissSummary();
        updateBadge();
    }
    // Jobs queued while a batch runs join it.
    for (const auto& job : m_jobs->jobs())
        if (job->status() == Job::Status::Queued) job->setInBatch(true);
    m_runner->start();
    updateBatch();
}

void Store::updateBatch(bool tick) {
    int finished = 0;
    int total = 0;
    int firstRunning = -1;
    double doneWork = 0;
    double allWork = 0;
    if (m_runner->isActive()) {
        const auto& jobs = m_jobs->jobs();
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
    const bool active = m_runner->isActive();
    // The counts in the strip, the title and the launcher move with the progress clock,
    // a few times a second, not with every outcome: a batch of quick jobs would lay out
    // the line anew and retitle the window dozens of times a second. A batch that starts,
    // grows or ends is shown at once. The counts of an ended batch stay as they were.
    const bool recount = active && (tick || m_batchText.isEmpty() || total != m_batchTotal);
    if (recount) {
        m_batchFinished = finished;
        m_batchTotal = total;
        QString text = QStringLiteral("Конвертирую ") + QString::number(finished) +
                       QStringLiteral(" из ") + QString::number(total);
        // Once enough has been done to go by.
        const double elapsed = m_batchClock.isValid() ? m_batchClock.elapsed() / 1000.0 : 0;
        if (elapsed >= 3 && progress >= 0.03 && progress < 1)
            text +=
                QStringLiteral(" · осталось ") + timeLeftText(elapsed * (1 - progress) / progress);
        if (text != m_batchText) {
            m_batchText = std::move(text);
            emit batchTextChanged();
        }
        refreshTitle();
    } else if (!active && !m_batchText.isEmpty()) {
        m_batchText.clear();
        emit batchTextChanged();
    }
    if (progress != m_batchProgress) {
        m_batchProgress = progress;
        emit batchProgressChanged();
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
void Store::refreshTitle() {
    QString title = titleText();
    if (title == m_title) return;
    m_title = std::move(title);
    emit windowTitleChanged();
}

QString Store::titleText() const {
    if (m_runner->isActive())
        return QString::number(m_batchFinished) + QStringLiteral(" из ") +
               QString::number(m_batchTotal) + QStringLiteral(" — Lumatra");
    if (!m_summaryTitle.isEmpty()) return m_summaryTitle + QStringLiteral(" — Lumatra");
    return QStringLiteral("Lumatra");
}

QString Store::qualityNote() const {
    if (!m_runner->isActive() || m_quality == m_batchQuality) return {};
    return QStringLiteral("«") + qtText(title(m_quality)) +
           QStringLiteral("» — со следующего запуска");
}

void Store::setSummary(QString summary, QString title) {
    if (summary == m_summary && title == m_summaryTitle) return;
    m_summary = std::move(summary);
    m_summaryTitle = std::move(title);
    emit summaryChanged();
    refreshTitle();
}

void Store::dismissSummary() {
    setSummary({}, {});
}

void Store::notifyBatchEnd() {
    if (m_summary.isEmpty()) return;
    showDesktopNotification(QStringLiteral("Lumatra: конвертирование закончено"), m_summary);
}

void Store::endBatch(const QString& sound) {
    updateBadge();
    updateBatch();
    if (sound.isEmpty()) {
        refreshTitle();
        return;
    }
    int done = 0;
    int failed = 0;
    int cancelled = 0;
    for (const auto& job : m_jobs->jobs()) {
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
    emit batchFinished(sound);
}

void Store::updateBadge() {
    const int count = pendingCount();
    if (count == m_badge) return;
    m_badge = count;
    pushLauncher();
    emit badgeChanged();
}

void Store::pushLauncher() {
    showLauncherCount(m_badge, m_launcherPercent < 0 ? -1.0 : m_launcherPercent / 100.0);
}

// Bulk target choice

void Store::setTarget(Format format, Kind kind) {
    Batch batch(*this);
    for (const auto& job : m_jobs->jobs())
        if (job->kind() == kind && job->status() == Job::Status::Ready && job->canProduce(format))
            job->choose(format);
    m_batchDirty = true;
}

std::vector<Format> Store::commonTargets(Kind kind) const {
    std::vector<Format> common;
    bool first = true;
    for (const auto& job : m_jobs->jobs()) {
        if (job->kind() != kind || job->status() != Job::Status::Ready) continue;
        if (first) {
            common = job->targets();
            first = false;
            continue;
        }
        std::erase_if(common, [&](Format format) { return !job->canProduce(format); });
    }
    return common;
}

std::optional<Format> Store::commonTarget(Kind kind) const {
    std::optional<Format> common;
    for (const auto& job : m_jobs->jobs()) {
        if (job->kind() != kind || job->status() != Job::Status::Ready) continue;
        if (common && *common != job->target()) return std::nullopt;
        common = job->target();
    }
    return common;
}

void Store::setTarget(const QString& format, const QString& kind) {
    const auto parsedFormat = formatFromRaw(format.toStdString());
    const auto parsedKind = kindNamed(kind);
    if (parsedFormat && parsedKind) setTarget(*parsedFormat, *parsedKind);
}

QStringList Store::commonTargets(const QString& kind) const {
    QStringList names;
    if (const auto parsed = kindNamed(kind))
        for (Format format : commonTargets(*parsed))
            names.append(qtText(rawValue(format)));
    return names;
}

QString Store::commonTarget(const QString& kind) const {
    const auto parsed = kindNamed(kind);
    if (!parsed) return {};
    const auto common = commonTarget(*parsed);
    return common ? qtText(rawValue(*common)) : QString();
}

QVariantList Store::bulkKinds() const {
    QVariantList rows;
    for (Kind kind : allKinds) {
        const auto& jobs = m_jobs->jobs();
        const bool shown = std::any_of(jobs.begin(), jobs.end(), [&](const auto& job) {
            return job->kind() == kind && job->status() == Job::Status::Ready;
        });
        if (!shown) continue;
        const auto common = commonTargets(kind);
        // A kind whose files share no target has nothing to choose here.
        if (common.empty()) continue;
        QVariantList targets;
        for (Format format : common)
            targets.append(
                QVariantMap{{QStringLiteral("format"), qtText(rawValue(format))},
                            {QStringLiteral("label"), qtText(rawValue(format)).toUpper()},
                            {QStringLiteral("detail"), qtText(detail(format))}});
        const auto selected = commonTarget(kind);
        rows.append(QVariantMap{
            {QStringLiteral("kind"), qtText(rawValue(kind))},
            {QStringLiteral("title"), qtText(title(kind))},
            {QStringLiteral("symbol"), qtText(symbol(kind))},
            {QStringLiteral("label"),
             QStringLiteral("Все ") + qtText(title(kind)).toLower() + QStringLiteral(" в")},
            {QStringLiteral("targets"), targets},
            {QStringLiteral("common"), selected ? qtText(rawValue(*selected)) : QString()},
        });
    }
    return rows;
}

// Panels and catalog texts

void Store::openPanel() {
    emit openPanelRequested();
}

void Store::chooseOutputDirectory() {
    emit outputDirectoryPanelRequested();
}

QString Store::kindTitle(const QString& kind) {
    const auto parsed = kindNamed(kind);
    return parsed ? qtText(title(*parsed)) : QString();
}

QString Store::kindSymbol(const QString& kind) {
    const auto parsed = kindNamed(kind);
    return parsed ? qtText(symbol(*parsed)) : QString();
}

QString Store::formatTitle(const QString& format) {
    const auto parsed = formatFromRaw(format.toStdString());
    return parsed ? qtText(title(*parsed)) : QString();
}

QString Store::formatDetail(const QString& format) {
    const auto parsed = formatFromRaw(format.toStdString());
    return parsed ? qtText(detail(*parsed)) : QString();
}

} // namespace lumatra
