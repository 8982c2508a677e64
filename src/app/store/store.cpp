#include "store/store.h"

#include "store/qt_text.h"

#include "converter/families.h"
#include "platform/file_icons.h"
#include "platform/file_manager.h"
#include "platform/launcher_badge.h"
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
// entries sorted the way a file manager lists them. Paths that do not exist vanish.
std::vector<fs::path> expand(const std::vector<fs::path>& paths) {
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
        if (error || !fs::exists(status)) continue;
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

// "1 файл", "2 файла", "5 файлов", "21 файл".
QString filesText(int count) {
    const int tens = count % 100;
    const int ones = count % 10;
    const char* word = (tens >= 11 && tens <= 14) ? "файлов"
                       : ones == 1                ? "файл"
                       : (ones >= 2 && ones <= 4) ? "файла"
                                                  : "файлов";
    return QString::number(count) + QLatin1Char(' ') + QString::fromUtf8(word);
}

} // namespace

QString skippedText(const QStringList& unknown, int twice) {
    QStringList parts;
    if (!unknown.isEmpty()) {
        QStringList names = unknown.mid(0, 3);
        if (unknown.size() > 3) names.append(QStringLiteral("…"));
        parts.append(QStringLiteral("Пропущено: ") + filesText(static_cast<int>(unknown.size())) +
                     QStringLiteral(" — такие файлы Lumatra не конвертирует (") +
                     names.join(QStringLiteral(", ")) + QStringLiteral(")"));
    }
    if (twice > 0) {
        parts.append((unknown.isEmpty() ? QStringLiteral("Пропущено: ") : QString()) +
                     filesText(twice) + QStringLiteral(" уже в списке"));
    }
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
              Options options;
              options.quality = m_quality;
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
    });
    connect(this, &Store::qualityChanged, m_runner, &QueueRunner::optionsChanged);
    connect(this, &Store::outputDirectoryChanged, m_runner, &QueueRunner::optionsChanged);
    connect(m_runner, &QueueRunner::jobFinished, this, [this](Job* job) {
        if (job->kind() == Kind::document) m_usedTextEngine = true;
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
    if (ready != m_lastReady || pending != m_lastPending || finished != m_lastFinished) {
        m_lastReady = ready;
        m_lastPending = pending;
        m_lastFinished = finished;
        emit countsChanged();
    }
    updateBadge();
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
    const auto expanded = expand(paths);

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
        carried[kind] = (*it)->target();
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
            job->setTarget(*carried[kind]);
        job->setIcon(fileIconName(path));
        active.insert(path.native());
        carried[kind] = job->target();
        fresh.push_back(std::move(job));
    }
    m_jobs->append(std::move(fresh));
    if (!unknown.isEmpty() || twice > 0) say(skippedText(unknown, twice));
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

void Store::say(const QString& text) {
    if (text == m_notice) return;
    m_notice = text;
    emit noticeChanged();
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
    m_jobs->removeIf([&](const Job& candidate) { return candidate.id() == id; });
    updateBadge();
}

void Store::clearFinished() {
    m_jobs->removeIf([](const Job& job) { return job.isFinished(); });
}

// The queue

void Store::convert(Job* job) {
    if (!owns(job) || job->isPending()) return;
    // A retry converts the file as it is now, and the row says how large that is.
    if (job->isFinished()) job->measure();
    job->markQueued();
    startIfNeeded();
}

void Store::convertAll() {
    {
        Batch batch(*this);
        for (const auto& job : m_jobs->jobs())
            if (job->status() == Job::Status::Ready) job->markQueued();
    }
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
    if (!m_runner->isActive()) updateBadge();
    m_runner->start();
}

void Store::endBatch(const QString& sound) {
    updateBadge();
    if (sound.isEmpty()) return;
    playSystemSound(sound);
    emit batchFinished(sound);
}

void Store::updateBadge() {
    const int count = pendingCount();
    if (count == m_badge) return;
    m_badge = count;
    showLauncherCount(count);
    emit badgeChanged();
}

// Bulk target choice

void Store::setTarget(Format format, Kind kind) {
    Batch batch(*this);
    for (const auto& job : m_jobs->jobs())
        if (job->kind() == kind && job->status() == Job::Status::Ready && job->canProduce(format))
            job->setTarget(format);
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
        QVariantList targets;
        for (Format format : commonTargets(kind))
            targets.append(
                QVariantMap{{QStringLiteral("format"), qtText(rawValue(format))},
                            {QStringLiteral("label"), qtText(rawValue(format)).toUpper()},
                            {QStringLiteral("detail"), qtText(detail(format))}});
        const auto common = commonTarget(kind);
        rows.append(QVariantMap{
            {QStringLiteral("kind"), qtText(rawValue(kind))},
            {QStringLiteral("title"), qtText(title(kind))},
            {QStringLiteral("symbol"), qtText(symbol(kind))},
            {QStringLiteral("label"),
             QStringLiteral("Все ") + qtText(title(kind)).toLower() + QStringLiteral(" в")},
            {QStringLiteral("targets"), targets},
            {QStringLiteral("common"), common ? qtText(rawValue(*common)) : QString()},
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
