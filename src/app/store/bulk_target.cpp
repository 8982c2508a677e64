#include "store/bulk_target.h"

#include "store/job_list_model.h"
#include "store/qt_text.h"

#include <QVariantMap>

#include <algorithm>

namespace lumatra {
namespace {

std::optional<Kind> kindNamed(const QString& name) {
    return kindFromRaw(name.toStdString());
}

} // namespace

void BulkTarget::choose(Format format, Kind kind) {
    for (const auto& job : m_jobs.jobs())
        if (job->kind() == kind && job->status() == Job::Status::Ready && job->canProduce(format))
            job->choose(format);
}

std::vector<Format> BulkTarget::commonTargets(Kind kind) const {
    std::vector<Format> common;
    bool first = true;
    for (const auto& job : m_jobs.jobs()) {
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

QStringList BulkTarget::commonTargets(const QString& kind) const {
    QStringList names;
    if (const auto parsed = kindNamed(kind))
        for (Format format : commonTargets(*parsed))
            names.append(qtText(rawValue(format)));
    return names;
}

std::optional<Format> BulkTarget::commonTarget(Kind kind) const {
    std::optional<Format> common;
    for (const auto& job : m_jobs.jobs()) {
        if (job->kind() != kind || job->status() != Job::Status::Ready) continue;
        if (common && *common != job->target()) return std::nullopt;
        common = job->target();
    }
    return common;
}

QString BulkTarget::commonTarget(const QString& kind) const {
    const auto parsed = kindNamed(kind);
    if (!parsed) return {};
    const auto common = commonTarget(*parsed);
    return common ? qtText(rawValue(*common)) : QString();
}

QVariantList BulkTarget::rows() const {
    QVariantList rows;
    for (Kind kind : allKinds) {
        const auto& jobs = m_jobs.jobs();
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

} // namespace lumatra
