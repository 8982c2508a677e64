#include "store/job.h"

#include "store/qt_text.h"

#include "converter/converter.h"
#include "formats/byte_count.h"

#include <QFile>
#include <QLocale>
#include <QVariantMap>

#include <algorithm>
#include <cmath>

namespace lumatra {

std::unique_ptr<Job> Job::make(const std::filesystem::path& path) {
    const auto kind = kindOf(path);
    if (!kind) return nullptr;
    const auto target = defaultTargetFor(path);
    if (!target) return nullptr;
    return std::unique_ptr<Job>(
        new Job(path, *kind, targetsFor(path), *target, Converter::size(path)));
}

Job::Job(std::filesystem::path path, Kind kind, std::vector<Format> targets, Format target,
         std::int64_t bytes)
    : m_id(QUuid::createUuid()), m_path(std::move(path)), m_kind(kind),
      m_targets(std::move(targets)), m_bytes(bytes), m_target(target) {}

QString Job::idText() const {
    return m_id.toString(QUuid::WithoutBraces);
}

QUrl Job::url() const {
    return QUrl::fromLocalFile(qtPath(m_path));
}

QString Job::fileName() const {
    return qtPath(m_path.filename());
}

QString Job::kindName() const {
    return qtText(rawValue(m_kind));
}
QString Job::kindTitle() const {
    return qtText(title(m_kind));
}
QString Job::kindSymbol() const {
    return qtText(symbol(m_kind));
}

QStringList Job::targetNames() const {
    QStringList names;
    names.reserve(static_cast<qsizetype>(m_targets.size()));
    for (Format format : m_targets)
        names.append(qtText(rawValue(format)));
    return names;
}

bool Job::canProduce(Format format) const {
    return std::find(m_targets.begin(), m_targets.end(), format) != m_targets.end();
}

void Job::dropSoundTargets() {
    std::vector<Format> kept = m_targets;
    std::erase_if(kept, [](Format format) { return isAudioOnly(format); });
    if (kept.empty() || kept.size() == m_targets.size()) return;
    m_targets = std::move(kept);
    emit targetsChanged();
    if (isAudioOnly(m_target)) {
        m_target = m_targets.front();
        emit targetChanged();
    }
}

void Job::setTarget(Format format) {
    if (!canProduce(format)) return;
    if (format != m_target) {
        m_target = format;
        emit targetChanged();
    }
    // Choosing a format again puts a finished job back among the ones to convert.
    if (isFinished()) setStatus(Status::Ready);
}

QString Job::targetName() const {
    return qtText(rawValue(m_target));
}

void Job::choose(Format format) {
    if (!canProduce(format)) return;
    m_chosen = true;
    setTarget(format);
}

void Job::setTargetName(const QString& name) {
    if (const auto format = formatFromRaw(name.toStdString())) choose(*format);
}

QString Job::targetLabel() const {
    return targetName().toUpper();
}
QString Job::targetDetail() const {
    return qtText(detail(m_target));
}

QString Job::statusName() const {
    switch (m_status) {
    case Status::Ready:
        return QStringLiteral("ready");
    case Status::Queued:
        return QStringLiteral("queued");
    case Status::Running:
        return QStringLiteral("running");
    case Status::Done:
        return QStringLiteral("done");
    case Status::Failed:
        return QStringLiteral("failed");
    case Status::Cancelled:
        return QStringLiteral("cancelled");
    }
    return {};
}

QUrl Job::outputUrl() const {
    if (!m_result) return {};
    return QUrl::fromLocalFile(qtPath(m_result->output));
}

bool Job::isFinished() const {
    return m_status == Status::Done || m_status == Status::Failed || m_status == Status::Cancelled;
}

bool Job::isPending() const {
    return m_status == Status::Queued || m_status == Status::Running;
}

bool Job::isActive() const {
    return !isFinished();
}

void Job::setStatus(Status status, double progress) {
    if (status == m_status && progress == m_progress) return;
    const bool phase = status != m_status;
    m_status = status;
    m_progress = progress;
    if (status != Status::Done) {
        m_result.reset();
        m_resultMissing = false;
    }
    if (status != Status::Failed) m_message.clear();
    emit statusChanged();
    if (phase) emit phaseChanged();
}

void Job::markReady() {
    setStatus(Status::Ready);
}
void Job::markQueued() {
    setStatus(Status::Queued);
}

void Job::markRunning(double fraction) {
    // Converters report fractions of the whole; anything outside [0, 1] is noise.
    if (!std::isfinite(fraction)) fraction = 0;
    setStatus(Status::Running, std::clamp(fraction, 0.0, 1.0));
}

void Job::markDone(ConvertResult result) {
    m_result = std::move(result);
    m_resultMissing = false;
    m_status = Status::Done;
    m_progress = 0;
    m_message.clear();
    emit statusChanged();
    emit phaseChanged();
}

void Job::markFailed(QString message) {
    m_result.reset();
    m_resultMissing = false;
    m_message = std::move(message);
    m_status = Status::Failed;
    m_progress = 0;
    emit statusChanged();
    emit phaseChanged();
}

void Job::markCancelled() {
    setStatus(Status::Cancelled);
}

bool Job::checkResult() {
    if (m_status != Status::Done || !m_result) return false;
    std::error_code error;
    const bool missing = !std::filesystem::exists(m_result->output, error) && !error;
    if (missing == m_resultMissing) return false;
    m_resultMissing = missing;
    emit statusChanged();
    emit phaseChanged();
    return true;
}

void Job::measure() {
    const std::int64_t bytes = Converter::size(m_path);
    if (bytes == m_bytes) return;
    m_bytes = bytes;
    emit bytesChanged();
}

QString Job::sourceText() const {
    return qtPath(pathExtension(m_path)).toUpper() + QStringLiteral(" · ") +
           QString::fromStdString(formatByteCount(m_bytes));
}

QString Job::statusText() const {
    switch (m_status) {
    case Status::Ready:
        return {};
    case Status::Queued:
        return QStringLiteral("В очереди");
    case Status::Running:
        if (m_progress <= 0) return QStringLiteral("Конвертирую…");
        return QString::number(static_cast<int>(m_progress * 100)) + QLatin1Char('%');
    case Status::Done:
        if (!m_result) return {};
        if (m_resultMissing)
            return qtPath(m_result->output.filename()) + QStringLiteral(" · файла больше нет");
        return qtPath(m_result->output.filename()) + QStringLiteral(" · ") +
               QString::fromStdString(formatByteCount(m_result->bytes)) + QStringLiteral(" · ") +
               durationText(m_result->seconds);
    case Status::Failed:
        return firstLine(m_message);
    case Status::Cancelled:
        return QStringLiteral("Отменено");
    }
    return {};
}

QVariantList Job::menuGroups() const {
    QVariantList groups;
    QStringList titles;
    for (Format format : m_targets) {
        const QString groupTitle = menuGroupTitle(format, m_kind);
        QVariantMap item{
            {QStringLiteral("format"), qtText(rawValue(format))},
            {QStringLiteral("label"), qtText(rawValue(format)).toUpper()},
            {QStringLiteral("title"), qtText(title(format))},
            {QStringLiteral("detail"), qtText(detail(format))},
            {QStringLiteral("text"),
             qtText(title(format)) + QStringLiteral(" — ") + qtText(detail(format))},
        };
        auto index = titles.indexOf(groupTitle);
        if (index < 0) {
            titles.append(groupTitle);
            groups.append(QVariantMap{{QStringLiteral("title"), groupTitle},
                                      {QStringLiteral("formats"), QVariantList{}}});
            index = titles.size() - 1;
        }
        auto group = groups[index].toMap();
        auto formats = group[QStringLiteral("formats")].toList();
        formats.append(item);
        group[QStringLiteral("formats")] = formats;
        groups[index] = group;
    }
    return groups;
}

QString durationText(double seconds) {
    if (std::isnan(seconds) || seconds < 1) return QStringLiteral("меньше секунды");
    // Rounded to one decimal, 59.95 s and more would read "60,0 с": those read in minutes.
    if (std::round(seconds * 10) < 600)
        return QLocale().toString(seconds, 'f', 1) + QStringLiteral(" с");
    if (!std::isfinite(seconds)) return {};
    const auto whole = static_cast<long long>(std::max(seconds, 60.0));
    const auto minutes = whole / 60;
    return QString::number(minutes) + QStringLiteral(" мин ") +
           QString::number(whole - minutes * 60) + QStringLiteral(" с");
}

QString menuGroupTitle(Format format, Kind kind) {
    if (isAudioOnly(format))
        return kind == Kind::audio ? QStringLiteral("Аудио") : QStringLiteral("Только звук");
    switch (format) {
    case Format::mp4:
    case Format::hevc:
    case Format::mov:
    case Format::webm:
    case Format::mkv:
        return QStringLiteral("Видео");
    case Format::gif:
        return kind == Kind::video ? QStringLiteral("Видео") : QStringLiteral("Изображение");
    case Format::jpg:
    case Format::png:
        return kind == Kind::document ? QStringLiteral("Страницы картинками")
                                      : QStringLiteral("Изображение");
    case Format::heic:
    case Format::avif:
    case Format::tiff:
    case Format::bmp:
        return QStringLiteral("Изображение");
    case Format::ico:
    case Format::icns:
        return QStringLiteral("Значок");
    case Format::json:
    case Format::csv:
    case Format::plist:
        return QStringLiteral("Данные");
    case Format::pdf:
    case Format::docx:
    case Format::rtf:
    case Format::txt:
    case Format::html:
    case Format::odt:
        return QStringLiteral("Документ");
    case Format::mp3:
    case Format::m4a:
    case Format::wav:
    case Format::flac:
    case Format::alac:
    case Format::opus:
    case Format::ogg:
    case Format::aiff:
        break; // audio-only, handled above
    }
    return {};
}

QString firstLine(const QString& message) {
    const auto end = message.indexOf(QLatin1Char('\n'));
    return end < 0 ? message : message.left(end);
}

} // namespace lumatra
