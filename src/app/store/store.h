#pragma once
// The window's one model object: the job list, the two saved settings, the ffmpeg
// flag and the conversion queue.
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
#include "store/job.h"
#include "store/job_list_model.h"
#include "store/queue_runner.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QQmlEngine>
#include <QStringList>
#include <QUrl>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

class QJSEngine;

namespace lumatra {

class AppSettings;

/// The notice after adding: how many files were skipped and why ("Пропущено: 2 файла —
/// такие файлы Lumatra не конвертирует (a.xyz, b.exe)." and/or "… уже в списке").
/// `unknown` are the names of files of no kind; `twice` counts files already active.
/// `missing` are the names of files that were not there ("… — не найден (a.wav)").
QString skippedText(const QStringList& unknown, int twice, const QStringList& missing = {});

/// A count with its noun in the right Russian form: countText(2, "ошибка", "ошибки",
/// "ошибок") is "2 ошибки"; 1, 21 take the first form, 2–4, 22–24 the second, the rest
/// (11–14 among them) the third.
QString countText(int count, const char* one, const char* few, const char* many);

/// Time left as the batch line says it: "несколько секунд", "~25 с", "~3 мин".
QString timeLeftText(double seconds);

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

    Quality quality() const { return m_quality; }
    void setQuality(Quality quality);
    QString qualityName() const;
    /// Unknown names are ignored.
    void setQualityName(const QString& name);
    static QVariantList qualities();

    const std::optional<std::filesystem::path>& outputDirectory() const {
        return m_outputDirectory;
    }
    void setOutputDirectory(std::optional<std::filesystem::path> folder);
    QUrl outputDirectoryUrl() const;
    /// An empty url means "next to each source"; a url that is not a local folder is
    /// ignored.
    void setOutputDirectoryUrl(const QUrl& url);
    QString outputDirectoryName() const;
    /// The folder's whole path; "" when none.
    QString outputDirectoryPath() const;

    bool ffmpegMissing() const { return m_ffmpegMissing; }
    void setFfmpegMissing(bool missing);
    Q_INVOKABLE void checkFfmpeg();

    int readyCount() const;
    int pendingCount() const;
    bool hasFinished() const;
    QString convertTitle() const;
    int failedCount() const;
    bool canConvert() const { return readyCount() > 0 || failedCount() > 0; }
    bool isBusy() const { return m_runner->isActive(); }
    int badge() const { return m_badge; }

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
    Q_INVOKABLE int nextFailedRow(int after) const;
    Q_INVOKABLE void openResult(lumatra::Job* job);
    Q_INVOKABLE void checkResults();
    Q_INVOKABLE void notifyBatchEnd();
    Q_INVOKABLE void runNoticeAction();
    Q_INVOKABLE void dismissSummary();

    QString batchText() const { return m_batchText; }
    double batchProgress() const { return m_batchProgress; }
    QString summary() const { return m_summary; }
    QString windowTitle() const { return m_title; }
    QString qualityNote() const;
    int activeRow() const { return m_activeRow; }
    QString noticeAction() const { return m_noticeAction; }

    void setTarget(Format format, Kind kind);
    std::vector<Format> commonTargets(Kind kind) const;
    std::optional<Format> commonTarget(Kind kind) const;
    Q_INVOKABLE void setTarget(const QString& format, const QString& kind);
    Q_INVOKABLE QStringList commonTargets(const QString& kind) const;
    Q_INVOKABLE QString commonTarget(const QString& kind) const;
    QVariantList bulkKinds() const;

    Q_INVOKABLE void openPanel();
    Q_INVOKABLE void chooseOutputDirectory();

    Q_INVOKABLE static QString kindTitle(const QString& kind);
    Q_INVOKABLE static QString kindSymbol(const QString& kind);
    Q_INVOKABLE static QString formatTitle(const QString& format);
    Q_INVOKABLE static QString formatDetail(const QString& format);

    /// A line the window shows until the user dismisses it or the next one comes:
    /// files that were skipped and why, a file manager that did not answer. "" = none.
    QString notice() const { return m_notice; }
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
    /// conversion, while the user picks targets and options (the window's store does):
    /// the engine's media and image libraries on a background thread, once, and for
    /// documents the text converter's engines, one per document up to one per core
    /// (starting one costs about a second). Off by default.
    void setPreparesConversions(bool prepares) { m_preparesConversions = prepares; }
    /// The window quits: asks the text converter's warm engines, which a document of
    /// this window may have started, to end as soon as no other run waits for them.
    /// Waits at most two seconds.
    void releaseTextEngine();

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
    void startIfNeeded();
    /// `tick`: called by the progress clock.
    void updateBatch(bool tick = false);
    void refreshTitle();
    QString titleText() const;
    void setSummary(QString summary, QString title);
    void pushLauncher();
    void endBatch(const QString& sound);
    void updateBadge();
    void jobChanged();
    bool owns(const Job* job) const;
    void prepareTextEngine();
    void prepareLibraries();
    void probeSound(Job* job);

    JobListModel* m_jobs;
    AppSettings* m_settings;
    Quality m_quality = Quality::balanced;
    std::optional<std::filesystem::path> m_outputDirectory;
    bool m_ffmpegMissing = false;
    // The text converter's engines may run on our behalf.
    bool m_usedTextEngine = false;
    bool m_preparesConversions = false;
    bool m_mediaPrepared = false;
    bool m_imagesPrepared = false;
    QElapsedTimer m_textEnginePrepared;

    QueueRunner* m_runner;
    int m_badge = 0;
    QString m_notice;
    QString m_noticeAction;
    NoticeAction m_noticeDoes = NoticeAction::none;
    int m_tick = 0;

    // The batch under way, or the one that ended last.
    Quality m_batchQuality = Quality::balanced;
    QElapsedTimer m_batchClock;
    QString m_batchText;
    double m_batchProgress = 0;
    int m_batchFinished = 0;
    int m_batchTotal = 0;
    int m_activeRow = -1;
    int m_launcherPercent = -1;
    bool m_toldFolderGone = false;
    QString m_summary;
    QString m_summaryTitle;
    QString m_title = QStringLiteral("Lumatra");

    int m_batchDepth = 0;
    bool m_batchDirty = false;
    std::unique_ptr<Batch> m_delivery; // open while a round of outcomes reaches the jobs

    // Last published counts, so that countsChanged fires only on a real change.
    int m_lastReady = -1;
    int m_lastPending = -1;
    bool m_lastFinished = false;
    int m_lastFailed = 0;
    QVariantList m_lastBulk;
};

} // namespace lumatra
