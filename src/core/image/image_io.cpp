#include "image/image_io.h"

#include "formats/convert_error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

namespace lumatra {

int lossyQuality(Quality quality) {
    switch (quality) {
    case Quality::best:
        return 95;
    case Quality::balanced:
        return 85;
    case Quality::small:
        return 65;
    }
    return 85;
}

void startVips() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (vips_init("lumatra") != 0) return;
        vips_cache_set_max(0);
        // libvips reports its failures to us through VError; nothing goes to stderr.
        g_log_set_handler(
            "VIPS", G_LOG_LEVEL_WARNING, [](auto, auto, auto, auto) {}, nullptr);
    });
}

void throwUnreadableImage() {
    throw ConvertError::failed("Не удалось открыть изображение");
}

SourceFile::SourceFile(const std::filesystem::path& path) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0) throwUnreadableImage();
    struct stat info {};
    if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(m_fd);
        throwUnreadableImage();
    }
    m_size = info.st_size;
    m_procPath = "/proc/self/fd/" + std::to_string(m_fd);
}

SourceFile::~SourceFile() {
    if (m_fd >= 0) ::close(m_fd);
}

std::string SourceFile::readAt(std::uint64_t offset, std::size_t count) const {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) - count) return {};
    std::string bytes(count, '\0');
    std::size_t used = 0;
    while (used < count) {
        const ssize_t n =
            ::pread(m_fd, bytes.data() + used, count - used, static_cast<off_t>(offset + used));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        used += static_cast<std::size_t>(n);
    }
    bytes.resize(used);
    return bytes;
}

std::string SourceFile::readAll(std::size_t limit) const {
    if (m_size < 0 || static_cast<std::uint64_t>(m_size) > limit) throwUnreadableImage();
    // The size may change while we read; one byte more than allowed tells us so.
    std::string bytes = head(static_cast<std::size_t>(m_size) + 1);
    if (bytes.size() > limit) throwUnreadableImage();
    return bytes;
}

OutputFile::OutputFile(const std::filesystem::path& path, std::string failure)
    : m_path(path), m_failure(std::move(failure)) {
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        m_errno = errno;
        throwWriteFailed();
    }
}

OutputFile::~OutputFile() {
    if (m_finished) return;
    if (m_fd >= 0) ::close(m_fd);
    ::unlink(m_path.c_str());
}

void OutputFile::throwWriteFailed() const {
    if (m_errno == ENOSPC || m_errno == EDQUOT) throw ConvertError::failed(diskFullText);
    throw ConvertError::failed(m_failure);
}

void OutputFile::throwWriteFailed(int error) {
    if (error != 0) m_errno = error;
    throwWriteFailed();
}

bool OutputFile::writeAll(const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(m_fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            m_errno = n < 0 ? errno : EIO;
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

void OutputFile::write(std::string_view bytes) {
    if (!writeAll(bytes.data(), bytes.size())) throwWriteFailed();
}

void OutputFile::writeAt(std::uint64_t offset, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(m_fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            m_errno = n < 0 ? errno : EIO;
            throwWriteFailed();
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
        offset += static_cast<std::uint64_t>(n);
    }
}

void OutputFile::finish() {
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR) m_errno = errno;
    if (m_errno != 0) throwWriteFailed();
    m_finished = true;
}

gint64 OutputFile::onTargetWrite(VipsTargetCustom*, const void* data, gint64 length,
                                 OutputFile* self) {
    if (length < 0 ||
        !self->writeAll(static_cast<const char*>(data), static_cast<std::size_t>(length)))
        return -1;
    return length;
}

gint64 OutputFile::onTargetRead(VipsTargetCustom*, void* data, gint64 length, OutputFile* self) {
    for (;;) {
        const ssize_t n =
            ::read(self->m_fd, data, static_cast<std::size_t>(std::max<gint64>(length, 0)));
        if (n >= 0 || errno != EINTR) return n;
    }
}

gint64 OutputFile::onTargetSeek(VipsTargetCustom*, gint64 offset, int whence, OutputFile* self) {
    return ::lseek(self->m_fd, static_cast<off_t>(offset), whence);
}

vips::VTarget OutputFile::target() {
    // The output was just created, so the descriptor starts out empty and at offset 0.
    VipsTargetCustom* custom = vips_target_custom_new();
    g_signal_connect(custom, "write", G_CALLBACK(onTargetWrite), this);
    g_signal_connect(custom, "read", G_CALLBACK(onTargetRead), this);
    g_signal_connect(custom, "seek", G_CALLBACK(onTargetSeek), this);
    return vips::VTarget(VIPS_TARGET(custom));
}

KillSwitch::KillSwitch(const vips::VImage& image, std::stop_token stop)
    : m_image(image), m_stop(std::move(stop)) {
    vips_image_set_progress(m_image.get_image(), TRUE);
    m_handler = g_signal_connect(m_image.get_image(), "eval", G_CALLBACK(onEval), this);
}

KillSwitch::~KillSwitch() {
    g_signal_handler_disconnect(m_image.get_image(), m_handler);
    vips_image_set_progress(m_image.get_image(), FALSE);
}

void KillSwitch::onEval(VipsImage* image, VipsProgress*, KillSwitch* self) {
    if (self->m_stop.stop_requested()) vips_image_set_kill(image, TRUE);
}

std::string runStoppable(std::function<std::string()> work, std::stop_token stop,
                         std::chrono::seconds limit, const std::string& overtime) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable_any done;
        bool finished = false;
        std::string result;
        std::exception_ptr error;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, work = std::move(work)] {
        std::string result;
        std::exception_ptr error;
        try {
            result = work();
        } catch (...) {
            error = std::current_exception();
        }
        const std::lock_guard lock(shared->mutex);
        shared->result = std::move(result);
        shared->error = error;
        shared->finished = true;
        shared->done.notify_all();
    }).detach();
    std::unique_lock lock(shared->mutex);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    if (!shared->done.wait_until(lock, stop, deadline, [&] { return shared->finished; })) {
        if (stop.stop_requested()) throw CancelledError();
        throw ConvertError::failed(overtime);
    }
    if (shared->error) std::rethrow_exception(shared->error);
    return std::move(shared->result);
}

} // namespace lumatra
