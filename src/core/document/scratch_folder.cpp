#include "document/scratch_folder.h"

#include "formats/convert_error.h"
#include "tools/read_to_end.h"

#include <fcntl.h>
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

} // namespace lumatra
