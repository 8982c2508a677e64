#pragma once
// One source file in the window's list: what it is, what it may become, which target
// the user chose and where its conversion stands.

#include "formats/convert_error.h"
#include "formats/format.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace lumatra {

/// A job is made only by the store (`Job::make`), lives on the main thread and is
/// written by the store's queue; the views read it and the row's format menu writes
/// `target`. A job never converts itself.
///
/// QML sees kinds, formats and statuses by their raw names ("audio", "mp3", "running")
/// and every text a row shows ready-made (`sourceText`, `statusText`, `menuGroups`…).
class Job : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Jobs are made by the store")

    Q_PROPERTY(QString id READ idText CONSTANT FINAL)
    Q_PROPERTY(QUrl url READ url CONSTANT FINAL)
    Q_PROPERTY(QString fileName READ fileName CONSTANT FINAL)
    Q_PROPERTY(QString kind READ kindName CONSTANT FINAL)
    Q_PROPERTY(QString kindTitle READ kindTitle CONSTANT FINAL)
    Q_PROPERTY(QString kindSymbol READ kindSymbol CONSTANT FINAL)
    Q_PROPERTY(QStringList targets READ targetNames NOTIFY targetsChanged FINAL)
    Q_PROPERTY(qint64 bytes READ bytes NOTIFY bytesChanged FINAL)
    Q_PROPERTY(QString sourceText READ sourceText NOTIFY bytesChanged FINAL)
    Q_PROPERTY(QVariantList menuGroups READ menuGroups NOTIFY targetsChanged FINAL)

    Q_PROPERTY(QString target READ targetName WRITE setTargetName NOTIFY targetChanged FINAL)
    Q_PROPERTY(QString targetLabel READ targetLabel NOTIFY targetChanged FINAL)
    Q_PROPERTY(QString targetDetail READ targetDetail NOTIFY targetChanged FINAL)

    Q_PROPERTY(Status status READ status NOTIFY phaseChanged FINAL)
    Q_PROPERTY(QString statusName READ statusName NOTIFY phaseChanged FINAL)
    Q_PROPERTY(double progress READ progress NOTIFY statusChanged FINAL)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusChanged FINAL)
    Q_PROPERTY(QString message READ message NOTIFY phaseChanged FINAL)
    Q_PROPERTY(QUrl outputUrl READ outputUrl NOTIFY phaseChanged FINAL)
    Q_PROPERTY(bool finished READ isFinished NOTIFY phaseChanged FINAL)
    Q_PROPERTY(bool pending READ isPending NOTIFY phaseChanged FINAL)

    Q_PROPERTY(bool resultMissing READ resultMissing NOTIFY phaseChanged FINAL)

public:
    /// Where a job stands. In QML: `Job.Ready`… or `job.statusName` ("ready"…).
    enum class Status { Ready, Queued, Running, Done, Failed, Cancelled };
    Q_ENUM(Status)

    /// A job in state ready for `path`, or none when the name gives no kind or no
    /// default target. The file is not opened; its size is measured once, here (0 when
    /// it is missing). `path` should be absolute.
    static std::unique_ptr<Job> make(const std::filesystem::path& path);

    QUuid id() const { return m_id; }
    QString idText() const;
    const std::filesystem::path& path() const { return m_path; }
    QUrl url() const;
    QString fileName() const;
    Kind kind() const { return m_kind; }
    QString kindName() const;
    QString kindTitle() const;
    QString kindSymbol() const;
    const std::vector<Format>& targets() const { return m_targets; }
    QStringList targetNames() const;
    bool canProduce(Format format) const;
    /// A video found to have no sound track: the sound-only targets go, and a target
    /// among them gives way to the first that is left.
    void dropSoundTargets();
    std::int64_t bytes() const { return m_bytes; }
    /// Measures the source again (a retry converts the file as it is now).
    void measure();

    Format target() const { return m_target; }
    /// Any assignment, even of the same format, puts a finished job back to ready; a
    /// format the job cannot produce is ignored.
    void setTarget(Format format);
    QString targetName() const;
    /// The user's own pick (the row's menu, the bulk bar): like setTarget, and the
    /// choice may be carried over to files of the kind added later.
    void choose(Format format);
    /// Whether the target is one the user picked, not the file's default.
    bool isChosen() const { return m_chosen; }
    /// The user's pick by name (the row's menu); unknown names and formats outside
    /// `targets` are ignored.
    void setTargetName(const QString& name);
    /// The menu chip's face: the raw value in upper case ("HEVC").
    QString targetLabel() const;
    /// The chip's tooltip: the target's description.
    QString targetDetail() const;

    Status status() const { return m_status; }
    QString statusName() const;
    /// The last fraction reported while running; 0 otherwise.
    double progress() const { return m_progress; }
    /// The result of a done job.
    const std::optional<ConvertResult>& result() const { return m_result; }
    QUrl outputUrl() const;
    /// The whole message of a failed job (the row's tooltip); empty otherwise.
    QString message() const { return m_message; }

    /// finished: done, failed, cancelled. pending: queued, running. active: ready,
    /// queued, running.
    bool isFinished() const;
    bool isPending() const;
    bool isActive() const;

    // The store's writes. Progress is clamped to [0, 1].
    void markReady();
    void markQueued();
    void markRunning(double fraction);
    void markDone(ConvertResult result);
    void markFailed(QString message);
    void markCancelled();

    /// A done job whose output is no longer where it was put (checked by
    /// checkResult()); the row says so.
    bool resultMissing() const { return m_resultMissing; }
    /// Looks whether a done job's output still exists; true when that changed.
    bool checkResult();

    /// Whether the job belongs to the batch under way (or that ended last): the store's
    /// bookkeeping for the batch's count and summary.
    bool inBatch() const { return m_inBatch; }
    void setInBatch(bool member) { m_inBatch = member; }

    /// "WAV · 12 КБ": the extension in upper case and the source size.
    QString sourceText() const;
    /// The rest of the status line: "" (ready), "В очереди", "37%", "Конвертирую…",
    /// "song.mp3 · 12 КБ · 2,4 с", the failure's first line, "Отменено".
    QString statusText() const;
    /// The format menu: [{title, formats: [{format, label, text, detail}]}] in target
    /// order, grouped by title.
    QVariantList menuGroups() const;

signals:
    void targetChanged();
    /// The list of targets shrank (a video without sound).
    void targetsChanged();
    /// Any change of the status, including a new progress fraction while running.
    void statusChanged();
    /// The status moved to another case (not fired for progress alone).
    void phaseChanged();
    void bytesChanged();

private:
    Job(std::filesystem::path path, Kind kind, std::vector<Format> targets, Format target,
        std::int64_t bytes);
    void setStatus(Status status, double progress = 0);

    QUuid m_id;
    std::filesystem::path m_path;
    Kind m_kind;
    std::vector<Format> m_targets;
    std::int64_t m_bytes;
    Format m_target;
    Status m_status = Status::Ready;
    double m_progress = 0;
    std::optional<ConvertResult> m_result;
    QString m_message;
    bool m_chosen = false;
    bool m_inBatch = false;
    bool m_resultMissing = false;
};

/// The duration of a conversion as a row shows it: "меньше секунды", "2,4 с" (one
/// decimal in the current locale), "1 мин 15 с".
QString durationText(double seconds);

/// The format menu's group title of `format` for a job of `kind` ("Аудио", "Только
/// звук", "Видео", "Изображение", "Страницы картинками", "Значок", "Данные",
/// "Документ").
QString menuGroupTitle(Format format, Kind kind);

/// The first line of a message: the text before the first line feed.
QString firstLine(const QString& message);

} // namespace lumatra
