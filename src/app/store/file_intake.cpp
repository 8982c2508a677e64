#include "store/file_intake.h"

#include "store/job_list_model.h"
#include "store/qt_text.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_set>

namespace lumatra {
namespace fs = std::filesystem;

namespace {

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
        const fs::path path = normalisedPath(given);
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

} // namespace

fs::path normalisedPath(const fs::path& path) {
    std::error_code ignored;
    fs::path result = fs::absolute(path, ignored).lexically_normal();
    if (result.has_relative_path() && !result.has_filename()) result = result.parent_path();
    return result;
}

Intake takeIn(const JobListModel& list, const std::vector<fs::path>& paths) {
    Intake intake;
    const auto expanded = expand(paths, intake.missing);

    std::unordered_set<std::string> active;
    for (const auto& job : list.jobs())
        if (job->isActive()) active.insert(job->path().native());

    // The target of the last ready job of each kind, which new jobs of the kind take over.
    std::array<std::optional<Format>, allKinds.size()> carried;
    std::array<bool, allKinds.size()> looked{};
    const auto& jobs = list.jobs();
    for (auto it = jobs.rbegin(); it != jobs.rend(); ++it) {
        const auto kind = static_cast<std::size_t>((*it)->kind());
        if (looked[kind] || (*it)->status() != Job::Status::Ready) continue;
        looked[kind] = true;
        // Only the user's own pick travels: a file's default is its own.
        if ((*it)->isChosen()) carried[kind] = (*it)->target();
    }

    for (const fs::path& path : expanded) {
        if (active.count(path.native())) {
            ++intake.refused;
            ++intake.twice;
            continue;
        }
        auto job = Job::make(path);
        if (!job) {
            ++intake.refused;
            intake.unknown.append(qtPath(path.filename()));
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
        intake.jobs.push_back(std::move(job));
    }
    return intake;
}

} // namespace lumatra
