#pragma once
// The image family's plumbing: libvips' start, the source file opened once, the output
// file created exclusively and removed unless finished, and the ways long work is
// stopped when the caller cancels.

#include "formats/format.h"

#include <vips/vips8>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

namespace lumatra {

/// Starts libvips once per process (later calls do nothing). Operation caching is off:
/// every conversion reads a different file once.
void startVips();

/// The quality (0–100) of the lossy encoders, JPEG and HEIF alike, for a quality level.
int lossyQuality(Quality quality);

/// The failure every unreadable source ends in: "Не удалось открыть изображение".
[[noreturn]] void throwUnreadableImage();

/// A source opened once for reading. Anything but a regular file is refused. The
/// libraries open it again by `path()`, a name of the already open descriptor, so a
/// file swapped under the original name meanwhile changes nothing.
class SourceFile {
public:
    /// Throws "Не удалось открыть изображение" when the file cannot be opened or is not a
    /// regular file.
    explicit SourceFile(const std::filesystem::path& path);
    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    const std::string& path() const { return m_procPath; }
    std::int64_t size() const { return m_size; }
    /// Up to `count` bytes from the start.
    std::string head(std::size_t count) const { return readAt(0, count); }
    /// Up to `count` bytes from `offset` (fewer at the end of the file).
    std::string readAt(std::uint64_t offset, std::size_t count) const;
    /// The whole file; throws "Не удалось открыть изображение" past `limit` bytes.
    std::string readAll(std::size_t limit) const;

private:
    int m_fd = -1;
    std::int64_t m_size = 0;
    std::string m_procPath;
};

/// The output, created only when nothing is at its path and never through a symbolic
/// link. Unless finish() succeeds, the destructor removes what was written.
class OutputFile {
public:
    /// `failure` is the whole text of every failure to write here ("Не удалось записать
    /// PNG"), but for a full disk (diskFullText); it is thrown at once when the file
    /// cannot be created.
    OutputFile(const std::filesystem::path& path, std::string failure);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /// Appends bytes; throws the failure text when they do not land.
    void write(std::string_view bytes);
    /// Writes bytes at `offset`, wherever the file ends; throws as write() does.
    void writeAt(std::uint64_t offset, std::string_view bytes);
    /// Closes the file; throws the failure text when the data did not land.
    void finish();

    /// A libvips target writing here (TIFF reads back and seeks). Its write failures are
    /// remembered (failed()).
    vips::VTarget target();
    bool failed() const { return m_errno != 0; }
    [[noreturn]] void throwWriteFailed() const;
    /// Throws the failure text for a write that failed with `error` (0 when unknown).
    [[noreturn]] void throwWriteFailed(int error);

    /// The open file, readable and writable, for a library that changes what was written
    /// in place; the file stays this object's.
    int descriptor() const { return m_fd; }

private:
    static gint64 onTargetWrite(VipsTargetCustom*, const void* data, gint64 length,
                                OutputFile* self);
    static gint64 onTargetRead(VipsTargetCustom*, void* data, gint64 length, OutputFile* self);
    static gint64 onTargetSeek(VipsTargetCustom*, gint64 offset, int whence, OutputFile* self);
    bool writeAll(const char* data, std::size_t length);

    std::filesystem::path m_path;
    std::string m_failure;
    int m_fd = -1;
    int m_errno = 0;
    bool m_finished = false;
};

/// While alive, stops libvips' computation of `image` (and of every image made from it)
/// soon after `stop` is requested; the interrupted operation then throws vips::VError.
class KillSwitch {
public:
    KillSwitch(const vips::VImage& image, std::stop_token stop);
    ~KillSwitch();
    KillSwitch(const KillSwitch&) = delete;
    KillSwitch& operator=(const KillSwitch&) = delete;

private:
    static void onEval(VipsImage* image, VipsProgress*, KillSwitch* self);

    vips::VImage m_image;
    std::stop_token m_stop;
    gulong m_handler = 0;
};

/// Runs `work`, which cannot be interrupted, on a thread of its own and returns its bytes.
/// When `stop` is requested first, the thread is left to finish and drop its result and
/// CancelledError is thrown at once; when `limit` passes first, likewise, and
/// ConvertError::failed(`overtime`) is thrown. Exceptions of `work` reach the caller.
std::string runStoppable(std::function<std::string()> work, std::stop_token stop,
                         std::chrono::seconds limit = std::chrono::hours(24),
                         const std::string& overtime = {});

} // namespace lumatra
