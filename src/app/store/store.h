#pragma once
// The window's one model object, the facade QML sees: the job list, the settings, the
// queue and what the window says about them. The work is done by its parts:
//   JobListModel (job_list_model.h)       the jobs and their counts
//   takeIn (file_intake.h)                files and folders the user adds become jobs
//   ConversionSettings (conversion_settings.h)  quality, output folder, ffmpeg flag
//   QueueRunner (queue_runner.h)          works the queued jobs off on the pool
//   BatchStatus (batch_status.h)          the batch line, title, summary, badge
//   BulkTarget (bulk_target.h)            the bulk bar's choice of target per kind
//   Preparation (preparation.h)           libraries and text engines loaded ahead
//   view_texts.h                          catalog names and Russian counts for the view
// The store itself adds and removes jobs, starts and cancels them, and keeps the notice.
//
// QML-facing API (singleton `Store` of module `Lumatra`; every call on the main thread)
//
// Properties
//   jobs               JobListModel   rows of the window; role `job` (a Job), `jobId`,
//                                     `status`, `target`; `jobs.count`
//   quality            string rw      "best" | "balanced" | "small"; saved on write
//   qualities          list           [{quality, title}] in menu order
//                                     ("Максимум", "Баланс", "Компактно")
//   outputDirectory    url rw         empty url = next to each source; saved on write
//   outputDirectoryName string        folder's last path component; "" when none
//   outputDirectoryPath string        the folder's whole path; "" when none
//   ffmpegMissing      bool rw        true when no ffmpeg was found
//   readyCount, pendingCount, hasFinished   footer values (ready; queued+running;
//                                     any done/failed/cancelled)
//   busy               bool           a batch is being worked off (the runner exists)
//   convertTitle       string         "Конвертировать" or "Конвертировать · N"
//   bulkKinds          list           the bulk bar's rows, in kind order, for every kind
//                                     with a ready job: [{kind, title, symbol, label
//                                     ("Все аудио в"), targets: [{format, label,
//                                     detail}], common: format or ""}]
//   badge              int            what the launcher badge shows (0 = none)
//   failedCount        int            jobs that failed
//   canConvert         bool           «Конвертировать» does something: a ready job, or
//                                     only failed ones left (it retries them)
//   batchText          string         while a batch runs: "Конвертирую 12 из 40 ·
//                                     осталось ~1 мин"; "" otherwise
//   batchProgress      double         the batch's share done, 0…1, weighed by size
//   summary            string         after a batch: "Готово 37 · 3 ошибки", until the
//                                     user's next change of the list
//   windowTitle        string         "12 из 40 — Lumatra", "Готово 37, 3 ошибки —
//                                     Lumatra" or "Lumatra"
//   qualityNote        string         a quality picked during a batch waits for the next
//                                     one, and this says so; "" otherwise
//   activeRow          int            row of the first running job of the batch, or -1
//   noticeAction       string         the notice's button ("Повторить", "Вернуть"), or ""
//
// Actions
//   add(urls) -> refused count   files and folders (one level, hidden skipped)
//   addPaths(paths)              the same for local paths (command line)
//   remove(job), convert(job), convertAll(), cancel(job), cancelAll(), clearFinished()
//   retryFailed()                every failed job back into the queue
//   removeUnstarted()            removes every job that has not started (ready, queued)
//   nextFailedRow(after) -> row  the next failed row after `after`, wrapping; -1 = none
//   openResult(job)              a done job's output, with the desktop's default program
//   checkResults()               done rows whose output went say so
//   notifyBatchEnd()             the summary as a desktop notification
//   runNoticeAction()            what the notice's button does
//   setTarget(format, kind), commonTargets(kind) -> [format], commonTarget(kind) -> format|""
//   openPanel()                  emits openPanelRequested(); the view shows its file
//                                dialog ("Добавить") and calls add(urls)
//   chooseOutputDirectory()      emits outputDirectoryPanelRequested(); the view shows its
//                                folder dialog ("Сохранять сюда") and sets outputDirectory
//   checkFfmpeg()                "Проверить снова": looks for ffmpeg again
//   tick               int            steps while jobs convert (the spinner's clock)
//   notice, dismissNotice()      the line of skipped files or an unanswered file manager
//   reveal(url), openFolder(url) the file manager; a notice when none answers
//   kindTitle(kind), kindSymbol(kind), formatTitle(format), formatDetail(format)
//
// Signals besides the NOTIFY ones: openPanelRequested(), outputDirectoryPanelRequested(),
// batchFinished(sound) with "Glass" or "Basso".
//
// Quitting while `busy` (after the user confirmed): stopForQuit() makes the walk of
// cancelAll() and silences the batch's end.
//
// Job (see job.h): id, url, fileName, kind, kindTitle, kindSymbol, targets, bytes,
// sourceText ("WAV · 12 КБ"), menuGroups, target (rw), targetLabel, targetDetail,
// status (Job.Ready…), statusName, progress, statusText, message, outputUrl, finished,
// pending.

#include "formats/convert_error.h"
#include "formats/format.h"
#include "store/batch_status.h"
#include "store/bulk_target.h"
#include "store/conversion_settings.h"
#include "store/job.h"
#include "store/job_list_model.h"
#include "store/preparation.h"
#include "store/queue_runner.h"
#include "store/view_texts.h"

#include <QObject>
#include <QQmlEngine>
#include <QStringList>
#include <QUrl>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

class QJSEngine;

namespace lumatra {

/// Confined to the main thread. The queue itself is worked off by a QueueRunner.
class Store : public QObject {
    Q_OBJECT
    // QML's singleton `Store` is registered by StoreForeign (store_qml.h).

    Q_PROPERTY(lumatra::JobListModel* jobs READ jobs CONSTANT)
    Q_PROPERTY(QString quality READ qualityName WRITE setQualityName NOTIFY qualityChanged)
    Q_PROPERTY(QVariantList qualities READ qualities CONSTANT)
    Q_PROPERTY(QUrl outputDirectory READ outputDirectoryUrl WRITE setOutputDirectoryUrl NOTIFY
                   outputDirectoryChanged)
    Q_PROPERTY(QString outputDirectoryName READ outputDirectoryName NOTIFY outputDirectoryChanged)
    Q_PROPERTY(QString outputDirectoryPath READ outputDirectoryPath NOTIFY outputDirectoryChanged)
    Q_PROPERTY(
        bool ffmpegMissing READ ffmpegMissing WRITE setFfmpegMissing NOTIFY ffmpegMissingChanged)
    Q_PROPERTY(int readyCount READ readyCount NOTIFY countsChanged)
    Q_PROPERTY(int pendingCount READ pendingCount NOTIFY countsChanged)
    Q_PROPERTY(bool hasFinished READ hasFinished NOTIFY countsChanged)
    Q_PROPERTY(QString convertTitle READ convertTitle NOTIFY countsChanged)
    Q_PROPERTY(bool busy READ isBusy NOTIFY busyChanged)
    Q_PROPERTY(QVariantList bulkKinds READ bulkKinds NOTIFY bulkChanged)
    Q_PROPERTY(int badge READ badge NOTIFY badgeChanged)
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)
    Q_PROPERTY(int tick READ tick NOTIFY tickChanged)
    Q_PROPERTY(int failedCount READ failedCount NOTIFY countsChanged)
    Q_PROPERTY(bool canConvert READ canConvert NOTIFY countsChanged)
    Q_PROPERTY(QString batchText READ batchText NOTIFY batchTextChanged)
    Q_PROPERTY(double batchProgress READ batchProgress NOTIFY batchProgressChanged)
    Q_PROPERTY(QString summary READ summary NOTIFY summaryChanged)
    Q_PROPERTY(QString windowTitle READ windowTitle NOTIFY windowTitleChanged)
    Q_PROPERTY(QString qualityNote READ qualityNote NOTIFY qualityNoteChanged)
    Q_PROPERTY(int activeRow READ activeRow NOTIFY activeRowChanged)
    Q_PROPERTY(QString noticeAction READ noticeAction NOTIFY noticeChanged)

public:
    /// Reads the saved settings and looks for ffmpeg.
    explicit Store(QObject* parent = nullptr);
    ~Store() override;

    /// The application's one store, made on first use and owned by the application
    /// object.
    static Store* shared();
    /// QML's singleton factory: the shared store.
    static Store* create(QQmlEngine*, QJSEngine*);

    JobListModel* jobs() const { return m_jobs; }

    // Settings (see ConversionSettings)
    Quality quality() const { return m_settings->quality(); }
    void setQuality(Quality quality) { m_settings->setQuality(quality); }
    QString qualityName() const { return m_settings->qualityName(); }
    void setQualityName(const QString& name) { m_settings->setQualityName(name); }
    static QVariantList qualities() { return qualityMenu(); }
    const std::optional<std::filesystem::path>& outputDirectory() const {
        return m_settings->outputDirectory();
    }
    void setOutputDirectory(std::optional<std::filesystem::path> folder) {
        m_settings->setOutputDirectory(std::move(folder));
    }
    QUrl outputDirectoryUrl() const { return m_settings->outputDirectoryUrl(); }
    void setOutputDirectoryUrl(const QUrl& url) { m_settings->setOutputDirectoryUrl(url); }
    QString outputDirectoryName() const { return m_settings->outputDirectoryName(); }
    QString outputDirectoryPath() const { return m_settings->outputDirectoryPath(); }
    bool ffmpegMissing() const { return m_settings->ffmpegMissing(); }
    void setFfmpegMissing(bool missing) { m_settings->setFfmpegMissing(missing); }
    Q_INVOKABLE void checkFfmpeg() { m_settings->checkFfmpeg(); }

    // Counts
    int readyCount() const { return m_jobs->counts().ready; }
    int pendingCount() const { return m_jobs->counts().pending; }
    bool hasFinished() const { return m_jobs->counts().finished; }
    int failedCount() const { return m_jobs->counts().failed; }
    QString convertTitle() const;
    bool canConvert() const { return readyCount() > 0 || failedCount() > 0; }
    bool isBusy() const { return m_runner->isActive(); }
    Q_INVOKABLE int nextFailedRow(int after) const { return m_jobs->nextFailedRow(after); }

    /// Adds files and folders; returns how many items were refused (existing paths
    /// that gave no job, or that are already active in the list).
    Q_INVOKABLE int add(const QList<QUrl>& urls);
    Q_INVOKABLE int addPaths(const QStringList& paths);
    int add(const std::vector<std::filesystem::path>& paths);

    Q_INVOKABLE void remove(lumatra::Job* job);
    Q_INVOKABLE void convert(lumatra::Job* job);
    Q_INVOKABLE void convertAll();
    Q_INVOKABLE void cancel(lumatra::Job* job);
    Q_INVOKABLE void cancelAll();
    Q_INVOKABLE void clearFinished();
    Q_INVOKABLE void retryFailed();
    Q_INVOKABLE void removeUnstarted();
    Q_INVOKABLE void openResult(lumatra::Job* job);
    Q_INVOKABLE void checkResults();
    Q_INVOKABLE void runNoticeAction();

    // The batch (see BatchStatus)
    QString batchText() const { return m_status->text(); }
    double batchProgress() const { return m_status->progress(); }
    QString summary() const { return m_status->summary(); }
    QString windowTitle() const { return m_status->windowTitle(); }
    int activeRow() const { return m_status->activeRow(); }
    int badge() const { return m_status->badge(); }
    QString qualityNote() const;
    Q_INVOKABLE void dismissSummary() { m_status->dismissSummary(); }
    Q_INVOKABLE void notifyBatchEnd() { m_status->notifyEnd(); }

    // The bulk bar (see BulkTarget)
    void setTarget(Format format, Kind kind);
    Q_INVOKABLE void setTarget(const QString& format, const QString& kind);
    std::vector<Format> commonTargets(Kind kind) const { return m_bulk.commonTargets(kind); }
    std::optional<Format> commonTarget(Kind kind) const { return m_bulk.commonTarget(kind); }
    Q_INVOKABLE QStringList commonTargets(const QString& kind) const {
        return m_bulk.commonTargets(kind);
    }
    Q_INVOKABLE QString commonTarget(const QString& kind) const {
        return m_bulk.commonTarget(kind);
    }
    QVariantList bulkKinds() const { return m_bulk.rows(); }

    Q_INVOKABLE void openPanel() { emit openPanelRequested(); }
    Q_INVOKABLE void chooseOutputDirectory() { emit outputDirectoryPanelRequested(); }

    // Catalog texts (see view_texts.h)
    Q_INVOKABLE static QString kindTitle(const QString& kind) { return lumatra::kindTitle(kind); }
    Q_INVOKABLE static QString kindSymbol(const QString& kind) { return lumatra::kindSymbol(kind); }
    Q_INVOKABLE static QString formatTitle(const QString& format) {
        return lumatra::formatTitle(format);
    }
    Q_INVOKABLE static QString formatDetail(const QString& format) {
        return lumatra::formatDetail(format);
    }

    /// A line the window shows until the user dismisses it or the next one comes:
    /// files that were skipped and why, a file manager that did not answer. "" = none.
    QString notice() const { return m_notice; }
    QString noticeAction() const { return m_noticeAction; }
    /// Counts up each time the running jobs' progress is shown: what moves while jobs
    /// convert (the spinner) steps with it, in the same frame.
    int tick() const { return m_tick; }
    Q_INVOKABLE void dismissNotice();
    /// Shows `file` in the file manager; says so when no file manager answers.
    Q_INVOKABLE void reveal(const QUrl& file);
    /// Opens `folder` in the file manager; says so when none can.
    Q_INVOKABLE void openFolder(const QUrl& folder);

    /// The queue's runner (the conversions in progress, their workers, the core budget).
    QueueRunner& runner() const { return *m_runner; }

    /// The quit walk: every queued job becomes ready, every running conversion is asked
    /// to stop, and the batch ends without a sound. Returns at once.
    void stopForQuit();
    /// Whether no conversion worker is left (their programs reaped, their unfinished
    /// output removed).
    bool conversionsStopped() const { return m_runner->workerIdle(); }
    /// Whether files added to the list have what converts them loaded ahead of their
    /// conversion, while the user picks targets and options (the window's store does;
    /// see Preparation). Off by default.
    void setPreparesConversions(bool prepares) { m_preparesConversions = prepares; }
    /// The window quits: see Preparation::releaseTextEngine.
    void releaseTextEngine() { m_preparation.releaseTextEngine(); }

signals:
    void qualityChanged();
    void outputDirectoryChanged();
    void ffmpegMissingChanged();
    void countsChanged();
    void busyChanged();
    void bulkChanged();
    void badgeChanged();
    void noticeChanged();
    void tickChanged();
    void batchTextChanged();
    void batchProgressChanged();
    void summaryChanged();
    void windowTitleChanged();
    void qualityNoteChanged();
    void activeRowChanged();
    void openPanelRequested();
    void outputDirectoryPanelRequested();
    /// A batch ended; `sound` is "Glass", or "Basso" when a conversion failed.
    void batchFinished(const QString& sound);

private:
    class Batch;

    enum class NoticeAction { none, retryFailed };
    void say(const QString& text, NoticeAction action = NoticeAction::none);
    void forwardSignals();
    void startIfNeeded();
    void jobChanged();
    void jobFinished(Job* job);
    bool owns(const Job* job) const;

    JobListModel* m_jobs;
    ConversionSettings* m_settings;
    QueueRunner* m_runner;
    BatchStatus* m_status;
    BulkTarget m_bulk;
    Preparation m_preparation;
    bool m_preparesConversions = false;

    QString m_notice;
    QString m_noticeAction;
    NoticeAction m_noticeDoes = NoticeAction::none;
    int m_tick = 0;

    // The batch under way, or the one that ended last.
    Quality m_batchQuality = Quality::balanced;
    bool m_toldFolderGone = false;

    int m_batchDepth = 0;
    bool m_batchDirty = false;
    std::unique_ptr<Batch> m_delivery; // open while a round of outcomes reaches the jobs

    // Last published counts, so that countsChanged fires only on a real change.
    std::optional<JobCounts> m_lastCounts;
    QVariantList m_lastBulk;
};

} // namespace lumatra
