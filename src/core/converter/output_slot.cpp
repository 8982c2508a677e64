#include "converter/output_slot.h"

#include "formats/convert_error.h"
#include "tools/uuid.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

namespace lumatra {
namespace {

constexpr std::string_view hiddenPrefix = ".lumatra-";
// A private folder is made readable only, locked, and then opened up to 0700; one that
// stays readable-only this long lost its owner between the making and the locking.
constexpr std::time_t unlockedGrace = 60;
// Converters write a file or a folder of pages; nothing deeper is ours to walk.
constexpr int removalDepth = 8;

// The names in an open folder, "." and ".." left out.
std::vector<std::string> folderEntries(int folderFd) {
    std::vector<std::string> names;
    const int own = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0) return names;
    DIR* dir = ::fdopendir(own);
    if (!dir) {
        ::close(own);
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

void removeEntry(int parentFd, const std::string& name, int depth);

// Empties an open folder without following any symbolic link in it.
void clearFolder(int folderFd, int depth) {
    if (depth > removalDepth) return;
    for (const auto& name : folderEntries(folderFd))
        removeEntry(folderFd, name, depth + 1);
}

void removeEntry(int parentFd, const std::string& name, int depth) {
    if (::unlinkat(parentFd, name.c_str(), 0) == 0 || errno != EISDIR) return;
    const UniqueFd inner(::openat(parentFd, name.c_str(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!inner) return;
    clearFolder(inner.get(), depth);
    ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
}

bool sameItem(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void chmodEntry(int parentFd, const std::string& name, mode_t mode) {
    const UniqueFd fd(
        ::openat(parentFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd) ::fchmod(fd.get(), mode);
}

} // namespace

mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (!line.starts_with("Umask:")) continue;
        try {
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8) & 0777);
        } catch (const std::exception&) {
            break;
        }
    }
    return 022;
}

OutputFolder::OutputFolder(std::filesystem::path path) : m_path(std::move(path)) {
    if (m_path.empty()) m_path = "."; // beside a source named without a folder
    std::error_code error;
    std::filesystem::create_directories(m_path, error);
    if (error) throw SystemError("Не удалось создать папку", m_path, error.value());
    m_fd.reset(::open(m_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_fd) throw SystemError("Не удалось открыть папку", m_path, errno);
}

long OutputFolder::nameMax() const {
    const long max = ::fpathconf(m_fd.get(), _PC_NAME_MAX);
    return max > 0 ? max : 255;
}

void OutputFolder::removeAbandonedItems() const {
    const uid_t me = ::geteuid();
    const std::time_t now = std::time(nullptr);
    for (const auto& name : folderEntries(m_fd.get())) {
        if (!name.starts_with(hiddenPrefix)) continue;
        const UniqueFd fd(::openat(m_fd.get(), name.c_str(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        if (!fd) continue;
        struct stat info {};
        if (::fstat(fd.get(), &info) != 0 || info.st_uid != me) continue;
        // A living run holds the lock on its folder.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        const bool opened = (info.st_mode & 0777) == 0700;
        if (!opened && now - info.st_mtime < unlockedGrace) continue;
        clearFolder(fd.get(), 0);
        ::unlinkat(m_fd.get(), name.c_str(), AT_REMOVEDIR);
    }
}

OutputSlot::OutputSlot(const OutputFolder& folder, const std::string& extension)
    : m_folder(folder) {
    for (int attempt = 0;; ++attempt) {
        m_folderName = std::string(hiddenPrefix) + makeUuid();
        if (::mkdirat(folder.fd(), m_folderName.c_str(), 0400) != 0) {
            if (errno == EEXIST && attempt < 8) continue;
            throw SystemError("Не удалось записать в папку", folder.path(), errno);
        }
        m_fd.reset(::openat(folder.fd(), m_folderName.c_str(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        // Someone may have put something else in its place meanwhile: another name then.
        struct stat info {};
        if (m_fd && ::fstat(m_fd.get(), &info) == 0 && info.st_uid == ::geteuid()) break;
        const int error = m_fd ? EEXIST : errno;
        m_fd.reset();
        if (attempt >= 8) throw SystemError("Не удалось записать в папку", folder.path(), error);
    }
    // Another run's cleaning may hold the lock for a moment while it looks at the new
    // folder. A file system without locks keeps the folder from being taken for
    // abandoned, too: the cleaning then never finds it unlocked.
    for (int attempt = 0; m_fd && attempt < 200; ++attempt) {
        if (::flock(m_fd.get(), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!m_fd || ::fchmod(m_fd.get(), 0700) != 0) {
        const int error = errno;
        ::unlinkat(folder.fd(), m_folderName.c_str(), AT_REMOVEDIR);
        throw SystemError("Не удалось записать в папку", folder.path(), error);
    }
    m_itemName = m_folderName + "." + extension;
    m_path = folder.path() / m_folderName / m_itemName;

    const std::filesystem::path anchor =
        "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(m_fd.get());
    struct stat viaProc {};
    struct stat direct {};
    const bool anchored = ::stat(anchor.c_str(), &viaProc) == 0 &&
                          ::fstat(m_fd.get(), &direct) == 0 && sameItem(viaProc, direct);
    m_anchored = anchored ? anchor / m_itemName : m_path;
}

OutputSlot::~OutputSlot() {
    clearFolder(m_fd.get(), 0);
    // Only our own folder goes, even if someone renamed another into its place.
    struct stat named {};
    struct stat own {};
    if (::fstatat(m_folder.fd(), m_folderName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        ::fstat(m_fd.get(), &own) == 0 && sameItem(named, own))
        ::unlinkat(m_folder.fd(), m_folderName.c_str(), AT_REMOVEDIR);
}

bool OutputSlot::holdsFolder() const {
    struct stat info {};
    return ::fstatat(m_fd.get(), m_itemName.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(info.st_mode);
}

void OutputSlot::adoptPermissions(mode_t sourceMode) const {
    const mode_t mask = currentUmask();
    const mode_t fileMode = sourceMode & 0666 & ~mask;
    if (!holdsFolder()) {
        chmodEntry(m_fd.get(), m_itemName, fileMode);
        return;
    }
    const UniqueFd inner(
        ::openat(m_fd.get(), m_itemName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!inner) return;
    for (const auto& name : folderEntries(inner.get()))
        chmodEntry(inner.get(), name, fileMode);
    // A folder is entered where it may be read.
    ::fchmod(inner.get(), (fileMode | ((fileMode & 0444) >> 2)) & ~mask);
}

bool OutputSlot::moveTo(const std::string& name) const {
    const int from = m_fd.get();
    const int to = m_folder.fd();
    const char* item = m_itemName.c_str();
    const auto failure = [&](int error) {
        return SystemError("Не удалось сохранить результат", m_folder.path() / name, error);
    };
    if (::renameat2(from, item, to, name.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return false;
    if (errno != EINVAL && errno != ENOSYS) throw failure(errno);
    // A file system without RENAME_NOREPLACE: a hard link is just as exclusive for files.
    if (::linkat(from, item, to, name.c_str(), 0) == 0) {
        ::unlinkat(from, item, 0);
        return true;
    }
    if (errno == EEXIST) return false;
    if (errno != EPERM && errno != ENOTSUP) throw failure(errno);
    // Neither is offered (some network and FUSE file systems, or a folder): the best we
    // can do is to look right before the move.
    struct stat info {};
    if (::fstatat(to, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) return false;
    if (::renameat(from, item, to, name.c_str()) != 0) throw failure(errno);
    return true;
}

} // namespace lumatra
