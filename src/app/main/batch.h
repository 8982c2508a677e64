#pragma once
// The command-line mode for many files: one call converts them all through the
// conversion pool, as many at once as the core budget allows.

#include "formats/convert_error.h"
#include "formats/format.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumatra::Main {

/// A folder whose entries are converted: one named like no kind of file. A folder named
/// like a file (a document package "x.rtfd", or "song.mp3/") is handed on as a file,
/// for the engine to convert or refuse.
bool isFolder(const std::filesystem::path& path);

/// The entries of `folder` the way a file manager lists them: hidden names left out,
/// sorted case-insensitively with numbers by value ("b2" before "B10"). Throws
/// SystemError when the folder cannot be read.
std::vector<std::string> folderListing(const std::filesystem::path& folder);

/// A local path for what a file manager hands over: a "file://" URI is decoded (its
/// bytes kept as they are, UTF-8 or not); anything else is taken as a path.
std::string pathFromArgument(const std::string& argument);

/// One file of a batch.
struct BatchItem {
    /// As the user wrote it, or the folder as written joined with the entry's name.
    std::string shown;
    std::filesystem::path path;
    /// Set for an entry that cannot be converted: the line printed for it.
    std::optional<std::string> failure;
};

/// The files `inputs` stand for, in order: a folder stands for its entries (one level).
/// Files the target does not serve go to `skipped` as "Пропущен: …" lines instead.
std::vector<BatchItem> batchItems(const std::vector<std::string>& inputs, Format target,
                                  std::vector<std::string>& skipped);

/// Converts every file of `inputs` to `target`; a folder among them stands for its
/// entries (one level). Files the target does not serve are reported ("Пропущен: …")
/// and skipped. Prints one line per finished file, in finishing order, and a closing
/// "Готово N из M · T с"; on a terminal also one line of progress that updates in place,
/// elsewhere "[N%]" of the whole batch in ten-percent steps. `budget` is the cores to
/// fill: a video conversion takes all of them, any other one. SIGINT, SIGTERM, SIGHUP
/// and SIGQUIT stop every conversion. Returns 0 when every file was converted, 1
/// otherwise (a failure, a stop, or nothing to convert).
int convertMany(const std::vector<std::string>& inputs, Format target, const Options& options,
                int budget);

} // namespace lumatra::Main
