#include "store/preparation.h"

#include "store/job_list_model.h"
#include "store/qt_text.h"

#include "converter/converter.h"
#include "converter/families.h"
#include "tools/tools.h"

#include <QCoreApplication>
#include <QPointer>
#include <QProcess>
#include <QThreadPool>

#include <algorithm>
#include <optional>
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

} // namespace

void Preparation::prepare(const JobListModel& jobs) {
    prepareLibraries(jobs);
    prepareTextEngine(jobs);
}

void Preparation::prepareLibraries(const JobListModel& jobs) {
    bool media = false;
    bool images = false;
    for (const auto& job : jobs.jobs()) {
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

void Preparation::probeSound(Job* job) {
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

void Preparation::prepareTextEngine(const JobListModel& jobs) {
    // Every document but a PDF goes through the text converter.
    int documents = 0;
    for (const auto& job : jobs.jobs())
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

void Preparation::releaseTextEngine() {
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

} // namespace lumatra
