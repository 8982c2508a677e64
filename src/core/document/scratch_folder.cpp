#include "document/scratch_folder.h"

#include "formats/convert_error.h"
#include "tools/read_to_end.h"
#include "tools/unique_fd.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace lumatra {

std::string readRegularFile(const std::filesystem::path& path, std::size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) throw SystemError("Не удалось открыть", path, errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int reason = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        throw SystemError("Не удалось открыть", path, reason);
    }
    if (static_cast<std::uint64_t>(info.st_size) > limit) {
        ::close(fd);
        throw SystemError("Не удалось прочитать", path, EFBIG);
    }
    std::string bytes;
    const int failure = readToEnd(fd, static_cast<std::size_t>(info.st_size), limit, bytes);
    ::close(fd);
    if (failure != 0) throw SystemError("Не удалось прочитать", path, failure);
    return bytes;
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    std::string temporary = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX"));
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) throw SystemError("Не удалось записать", path, errno);
    std::size_t written = 0;
    int failure = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failure = n < 0 ? errno : EIO;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && !failure) failure = errno;
    if (!failure && ::rename(temporary.c_str(), path.c_str()) != 0) failure = errno;
    if (failure) {
        ::unlink(temporary.c_str());
        throw SystemError("Не удалось записать", path, failure);
    }
}

namespace {

// Copies the rest of `from` to `to`; 0 or the errno of the failure.
int copyContent(int from, int to) {
    for (bool ranges = true;;) {
        if (ranges) {
            const ssize_t n =
                ::copy_file_range(from, nullptr, to, nullptr, std::size_t{1} << 30, 0);
            if (n > 0) continue;
            if (n == 0) return 0;
            if (errno == EINTR) continue;
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
                return errno;
            ranges = false;
        }
        char buffer[64 * 1024];
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n == 0) return 0;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        for (ssize_t written = 0; written < n;) {
            const ssize_t w = ::write(to, buffer + written, static_cast<std::size_t>(n - written));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return w < 0 ? errno : EIO;
            written += w;
        }
    }
}

} // namespace

void deliverFile(const std::filesystem::path& result, const std::filesystem::path& output) {
    const UniqueFd in(::open(result.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    // The tool reports success only with its output in place; a tool that says otherwise
    // is not believed.
    if (!in || ::fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode))
        throw ConvertError::failed("Конвертер документов не создал файл");
    if (::renameat2(AT_FDCWD, result.c_str(), AT_FDCWD, output.c_str(), RENAME_NOREPLACE) == 0)
        return;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS)
        throw SystemError("Не удалось записать", output, errno);
    const int out =
        ::open(output.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) throw SystemError("Не удалось записать", output, errno);
    int failure = copyContent(in.get(), out);
    if (::close(out) != 0 && failure == 0) failure = errno;
    if (failure != 0) {
        ::unlink(output.c_str());
        throw SystemError("Не удалось записать", output, failure);
    }
    ::unlink(result.c_str());
}

} // namespace lumatra
