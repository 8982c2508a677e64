#pragma once
// The private scratch folder of one document conversion, and the small file helpers
// the document pipeline shares.

#include "tools/private_folders.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace lumatra {

/// A folder "lumatra-<UUID>" (upper-case, 8-4-4-4-12) in the temporary folder, made
/// readable by its owner only, and marked as this run's (RunScratch), so that what a
/// killed run left is removed by the next one. The folder and everything in it are
/// removed when the object goes; a failure of that removal is ignored.
class ScratchFolder {
public:
    /// Throws SystemError when the folder cannot be made.
    ScratchFolder() : m_folder("lumatra-") {}

    const std::filesystem::path& path() const { return m_folder.path(); }
    std::filesystem::path operator/(std::string_view name) const { return path() / name; }

private:
    RunScratch m_folder;
};

/// The whole content of the regular file `path`, at most `limit` bytes. Throws
/// SystemError when it cannot be opened or read, is not a regular file or is larger.
std::string readRegularFile(const std::filesystem::path& path, std::size_t limit);

/// Writes `bytes` to `path` through a temporary name beside it and a rename, so a
/// reader never sees half a file. Throws SystemError.
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

/// Puts the regular file `result` (in a scratch folder) at `output`, which must not
/// exist: one rename where both lie on one file system, else a copy into a new file;
/// no link is followed at either end. The result is gone afterwards. Throws
/// ConvertError::failed("Конвертер документов не создал файл") when there is no result,
/// SystemError("Не удалось записать", output, …) when the output cannot be made whole.
void deliverFile(const std::filesystem::path& result, const std::filesystem::path& output);

} // namespace lumatra
