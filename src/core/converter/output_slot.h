#pragma once
// Where a conversion writes before its result gets a final name: a private hidden
// folder in the output folder, reached through descriptors so that nobody else can
// redirect the writing or the final move.

#include "tools/unique_fd.h"

#include <sys/types.h>

#include <filesystem>
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
/// while this object lives), and the item name the converter writes in it. Everything in
/// it is removed when the object goes, whatever happened.
class OutputSlot {
public:
    /// Makes the folder; `extension` ends the item's name. Throws
    /// SystemError("Не удалось записать в папку", folder, errno) when the folder takes
    /// no new entries.
    OutputSlot(const OutputFolder& folder, const std::string& extension);
    OutputSlot(const OutputSlot&) = delete;
    OutputSlot& operator=(const OutputSlot&) = delete;
    ~OutputSlot();

    /// The item's path by name: output folder / private folder / item. Writers in this
    /// process or in programs it starts may use it; the private folder keeps other
    /// users out.
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
