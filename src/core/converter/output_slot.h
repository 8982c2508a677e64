#pragma once
// Where a conversion writes before its result gets a final name: a private hidden
// folder in the output folder, reached through descriptors so that nobody else can
// redirect the writing or the final move.

#include "tools/unique_fd.h"

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>

namespace lumatra {

/// The output folder, opened once; every later step works relative to this descriptor.
class OutputFolder {
public:
    /// Creates `path` (with missing parents) when needed and opens it. Throws
    /// SystemError("Не удалось создать папку" / "Не удалось открыть папку").
    explicit OutputFolder(std::filesystem::path path);

    const std::filesystem::path& path() const { return m_path; }
    int fd() const { return m_fd.get(); }

    /// Removes what runs of processes that are gone left behind, and nothing else: only a
    /// folder named ".lumatra-<UUID>" of this user (mode 0700, not a link) that holds its
    /// run's marker, unlocked, and at most the one item such a run writes. Each name is
    /// removed on its own, relative to the opened folder; nothing is followed or removed
    /// recursively. Never fails.
    void removeAbandonedItems() const;

    /// The longest file name this folder takes, in bytes.
    long nameMax() const;

private:
    std::filesystem::path m_path;
    UniqueFd m_fd;
};

/// One run's private folder ".lumatra-<UUID>" (mode 0700) inside the output folder, with
/// its marker ".lumatra-<UUID>.lock" (the folder's name and this process's id, locked
/// while this object lives), and the item name the converter writes in it. When the
/// object goes, the names the run wrote are removed, whatever happened: the item (a file,
/// or a folder of files), the marker and the folder, which stays when anything else is
/// in it.
class OutputSlot {
public:
    /// Moments at which another process may act on a new private folder: right after
    /// its creation, and once it is ready for the converter.
    enum class Stage { created, ready };
    /// Called at each stage with the folder's name, in every process of the program: a
    /// test's way to act as another user at exactly that moment. Empty by default.
    using Seam = std::function<void(Stage stage, const std::string& name)>;
    static void setSeam(Seam seam);

    /// Makes the folder; `extension` ends the item's name. The folder is used only when
    /// the one opened under the new name is provably the one made (ours, empty, fresh,
    /// of the mode made with); anything else found there is left untouched and another
    /// name tried. Throws SystemError("Не удалось записать в папку", folder, errno) when
    /// the folder takes no new entries.
    OutputSlot(const OutputFolder& folder, const std::string& extension);
    OutputSlot(const OutputSlot&) = delete;
    OutputSlot& operator=(const OutputSlot&) = delete;
    ~OutputSlot();

    /// The item's path by name: output folder / private folder / item. For names in
    /// messages only: a rename in the output folder can redirect it, so writers use
    /// `anchoredPath()`.
    const std::filesystem::path& path() const { return m_path; }

    /// The same item reached through this process's descriptor of the private folder
    /// (/proc/<pid>/fd/<n>/item), which no rename in the output folder can redirect;
    /// `path()` where /proc does not offer that. Valid for this process and for the
    /// programs it starts in its own namespaces.
    const std::filesystem::path& anchoredPath() const { return m_anchored; }

    /// Whether the converter left a folder (of pages) rather than a file.
    bool holdsFolder() const;

    /// Gives the item (and, for a folder, everything in it) the permission bits of a
    /// file of mode `sourceMode` created under the process's umask.
    void adoptPermissions(mode_t sourceMode) const;

    /// Moves the item to `name` in the output folder unless something is there.
    /// Returns false when the name is taken; throws SystemError on other failures.
    bool moveTo(const std::string& name) const;

private:
    /// Removes the private folder's name when it still names our folder and is empty.
    void removeOwnFolder() const;

    const OutputFolder& m_folder;
    std::string m_folderName;
    std::string m_itemName;
    UniqueFd m_fd;
    UniqueFd m_marker;
    std::filesystem::path m_path;
    std::filesystem::path m_anchored;
};

/// The process's umask, read without changing it.
mode_t currentUmask();

} // namespace lumatra
