#include "document/scratch_folder.h"

#include "formats/convert_error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <random>

namespace lumatra {

std::string makeUuid() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::array<unsigned char, 16> bytes;
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        const auto value = generator();
        for (std::size_t j = 0; j < 8; ++j)
            bytes[i + j] = static_cast<unsigned char>(value >> (8 * j));
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += hex[bytes[i] >> 4];
        text += hex[bytes[i] & 0x0F];
    }
    return text;
}

ScratchFolder::ScratchFolder() {
    std::error_code error;
    auto base = std::filesystem::temp_directory_path(error);
    if (error) base = "/tmp";
    std::filesystem::create_directories(base, error);
    m_path = base / ("lumatra-" + makeUuid());
    // A fresh name made by us alone: mkdir fails rather than reuse anything there.
    if (::mkdir(m_path.c_str(), 0700) != 0)
        throw SystemError("Не удалось создать временную папку", m_path, errno);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

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
    std::string bytes(static_cast<std::size_t>(info.st_size) + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (bytes.size() > limit) {
                ::close(fd);
                throw SystemError("Не удалось прочитать", path, EFBIG);
            }
            bytes.resize(bytes.size() * 2);
        }
        const ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
        if (n > 0) {
            used += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        const int readErrno = errno;
        ::close(fd);
        if (n < 0) throw SystemError("Не удалось прочитать", path, readErrno);
        break;
    }
    bytes.resize(used);
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
