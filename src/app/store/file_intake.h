#pragma once
// Adding files to the list: the files and folders the user hands over become new jobs,
// with the target the user last chose for their kind; what gives no job is counted
// and named for the notice.

#include "store/job.h"

#include <QStringList>

#include <filesystem>
#include <memory>
#include <vector>

namespace lumatra {

class JobListModel;

/// File locations are compared as absolute, normalised paths without a trailing slash.
std::filesystem::path normalisedPath(const std::filesystem::path& path);

/// What an addition brings: the new jobs in order, and what was left out.
struct Intake {
    std::vector<std::unique_ptr<Job>> jobs;
    /// Existing paths that gave no job, or that are already active in the list.
    int refused = 0;
    /// Names of files of no kind.
    QStringList unknown;
    /// Files already active in the list.
    int twice = 0;
    /// Names of paths that were not there.
    QStringList missing;

    bool skippedAny() const { return !unknown.isEmpty() || twice > 0 || !missing.isEmpty(); }
};

/// The jobs for `paths` against the list as it is: a folder stands for its visible
/// entries (one level, in a file manager's order), a package folder ("x.rtfd") is one
/// file, a file already active in the list is refused. Each new job takes over the
/// target the user last chose for a ready job of its kind, unless that is the file's
/// own format.
Intake takeIn(const JobListModel& list, const std::vector<std::filesystem::path>& paths);

} // namespace lumatra
