#pragma once
// The engine's one entry: checks a request against the catalog, runs the converter of
// the file's kind into a private hidden folder and moves the result to a free name.

#include "formats/convert_error.h"
#include "formats/format.h"
#include "tools/tools.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>

namespace lumatra {

class OutputSlot;

/// Receives the fraction of the job done, in [0, 1]; may be called from any thread.
using ProgressHandler = std::function<void(double fraction)>;

class Converter {
public:
    /// What the media route needs to know about a source before ffmpeg runs. The
    /// default answer (length 0, both kinds of track assumed) stands for a source that
    /// could not be read at all.
    struct Probe {
        double duration = 0;
        bool hasAudio = true;
        /// A video track that is not just a cover picture.
        bool hasVideo = true;
        bool readable = true;
    };

    explicit Converter(Tools tools) : m_tools(std::move(tools)) {}

    /// Converts `source` to `format`. Blocks until done; run it on a thread of its own.
    /// The result lands in `options.outputDirectory` (created when missing) or beside the
    /// source, as "<stem>.<ext>", or "<stem> N.<ext>" when that name is taken; an existing
    /// item is never replaced. `progress` gets fractions while the work runs and 1.0 once
    /// the result is in place. The result gets the source's permission bits under the
    /// umask.
    ///
    /// Refused before any work: a missing source ("Файл не найден: <path>"), one that is
    /// no regular file once links are followed (a folder, pipe, device or socket, or a
    /// file of the kernel's own file systems such as /proc and /sys), and a
    /// final name longer than the output folder's file system takes. Hidden items that
    /// runs of dead processes left in the output folder are removed first.
    ///
    /// Throws ConvertError, SystemError or a filesystem error on failure and
    /// CancelledError when `stop` was requested; either way nothing is left behind. A
    /// failure of the conversion itself is ConvertError::failed naming what the user
    /// knows: the output as "<folder>/<stem>.<ext>" and the source, never the private
    /// folder, a descriptor's path or a scratch copy.
    ConvertResult run(const std::filesystem::path& source, Format format, const Options& options,
                      const ProgressHandler& progress, std::stop_token stop = {}) const;

    /// Size of a file, or the sum of the files below a folder; 0 when nothing can be
    /// measured. Never fails.
    static std::int64_t size(const std::filesystem::path& path);

    /// The container's duration and its kinds of tracks, read in process as ffprobe
    /// reads them; the default answer with `readable` false when the source is no
    /// regular file, no media container, or `stop` was requested. Never fails.
    Probe probe(const std::filesystem::path& source, std::stop_token stop = {}) const;

    /// The media route: one ffmpeg run writing `output`, the source probed meanwhile. A
    /// source that cannot be read, or lacks the track the target needs, is refused with
    /// our own text: ffmpeg is stopped and what it wrote discarded.
    void media(const std::filesystem::path& source, Format format, Quality quality,
               const std::filesystem::path& output, const ProgressHandler& progress,
               std::stop_token stop) const;

    const Tools& tools() const { return m_tools; }

private:
    /// Runs the family's converter for `kind`, writing the slot's item.
    void convertInto(const OutputSlot& scratch, const std::filesystem::path& source, Format format,
                     Kind kind, const Options& options, const ProgressHandler& progress,
                     std::stop_token stop) const;

    Tools m_tools;
};

/// The final name for a result: "<stem>.<ext>" (or "<stem> — <title>" for a folder of
/// pages) in `folder`, numbered " 2", " 3"… while the name is taken.
std::filesystem::path freeOutputName(const std::filesystem::path& folder, const std::string& stem,
                                     Format format, bool isFolder, int firstNumber = 1);

} // namespace lumatra
