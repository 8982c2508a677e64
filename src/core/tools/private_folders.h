#pragma once
// Folders of this user alone: the runtime folder where the program's sockets and locks
// live, and the scratch folders of runs in the temporary folder, which a later run may
// prove abandoned and remove.

#include "tools/unique_fd.h"

#include <filesystem>
#include <optional>
#include <string_view>

namespace lumatra {

/// Whether `folder` itself (not a link to it) is a folder of this user that no one else
/// may enter.
bool isPrivateFolder(const std::filesystem::path& folder);

/// The user's private runtime folder: $XDG_RUNTIME_DIR when it is such a folder, else
/// "lumatra-<uid>" in the temporary folder ($TMPDIR, else /tmp), made with mode 0700 when
/// missing and checked the same way, so that a name another user prepared is refused.
/// None when neither can be trusted.
std::optional<std::filesystem::path> privateRuntimeFolder();

/// The scratch folder of one run: "<prefix><UUID>" in the temporary folder, mode 0700,
/// holding the marker "<name>.lock" (the folder's name and this process's id) that stays
/// locked while the process lives. Should the process be killed, the next run proves the
/// folder abandoned by that marker and removes it (removeAbandonedScratch). The folder
/// goes with the object, everything in it included; a failure of that is ignored.
class RunScratch {
public:
    /// Removes what dead runs left under `prefix` first. Throws SystemError("Не удалось
    /// создать временную папку") when the folder cannot be made.
    explicit RunScratch(std::string_view prefix);
    ~RunScratch();
    RunScratch(const RunScratch&) = delete;
    RunScratch& operator=(const RunScratch&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
    UniqueFd m_marker;
};

/// Removes the folders "<prefix><UUID>" in the temporary folder that runs now gone left
/// behind, and nothing else: a folder only when it is this user's, mode 0700, not a link,
/// and holds its run's marker naming it, unlocked. What such a folder holds the run made,
/// in a folder no one else could enter: it goes whole, links removed, never followed.
/// Never fails.
void removeAbandonedScratch(std::string_view prefix);

} // namespace lumatra
