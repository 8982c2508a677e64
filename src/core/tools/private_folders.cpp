#include "tools/private_folders.h"

#include "formats/convert_error.h"
#include "tools/uuid.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace lumatra {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view markerSuffix = ".lock";
constexpr std::size_t maxMarkerBytes = 128;

fs::path temporaryFolder() {
    std::error_code error;
    auto base = fs::temp_directory_path(error);
    return error ? fs::path("/tmp") : base;
}

bool isPrivate(const struct stat& info) {
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

// "<name> <pid>\n": the marker of the folder `name`.
std::string markerText(std::string_view name) {
    return std::string(name) + " " + std::to_string(::getpid()) + "\n";
}

bool isMarkerText(std::string_view text, std::string_view name) {
    if (!text.starts_with(name) || !text.ends_with('\n')) return false;
    text.remove_prefix(name.size());
    text.remove_suffix(1);
    if (!text.starts_with(' ') || text.size() < 2 || text.size() > 13) return false;
    return text.substr(1).find_first_not_of("0123456789") == std::string_view::npos;
}

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir))
        names.emplace_back(entry->d_name);
    ::closedir(dir);
    return names;
}

// Proves the folder `name` in the open temporary folder abandoned, and removes it.
void removeIfAbandoned(int parentFd, const fs::path& parent, const std::string& name) {
    const UniqueFd folder(::openat(parentFd, name.c_str(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (!folder || ::fstat(folder.get(), &info) != 0 || !isPrivate(info)) return;
    const std::string markerName = name + std::string(markerSuffix);
    const UniqueFd marker(::openat(folder.get(), markerName.c_str(),
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat markerInfo {};
    if (!marker || ::fstat(marker.get(), &markerInfo) != 0 || !S_ISREG(markerInfo.st_mode) ||
        markerInfo.st_uid != ::geteuid() || markerInfo.st_nlink != 1 ||
        markerInfo.st_size > static_cast<off_t>(maxMarkerBytes))
        return;
    // A living run holds the lock. One just starting writes the text once it holds it:
    // read under the lock, a marker without its text is left be.
    if (::flock(marker.get(), LOCK_EX | LOCK_NB) != 0) return;
    char text[maxMarkerBytes + 1];
    const ssize_t n = ::pread(marker.get(), text, sizeof text, 0);
    if (n <= 0 || !isMarkerText({text, static_cast<std::size_t>(n)}, name)) return;
    // Still the folder that was proven (only this user may rename in a folder where
    // others may write, the temporary folder being sticky), and then all of it.
    struct stat named {};
    if (::fstatat(parentFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_dev != info.st_dev || named.st_ino != info.st_ino)
        return;
    std::error_code ignored;
    fs::remove_all(parent / name, ignored);
}

} // namespace

bool isPrivateFolder(const fs::path& folder) {
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && isPrivate(info);
}

std::optional<fs::path> privateRuntimeFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        const fs::path folder(runtime);
        if (folder.is_absolute() && isPrivateFolder(folder)) return folder;
    }
    const fs::path folder = temporaryFolder() / ("lumatra-" + std::to_string(::geteuid()));
    // An existing name is accepted only when it passes the same check: another user
    // cannot have prepared it.
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    if (!isPrivateFolder(folder)) return std::nullopt;
    return folder;
}

void removeAbandonedScratch(std::string_view prefix) {
    const fs::path parent = temporaryFolder();
    const UniqueFd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parentFd) return;
    for (const auto& name : entries(parent))
        if (name.starts_with(prefix) && isUuid(std::string_view(name).substr(prefix.size())))
            removeIfAbandoned(parentFd.get(), parent, name);
}

RunScratch::RunScratch(std::string_view prefix) {
    removeAbandonedScratch(prefix);
    const fs::path parent = temporaryFolder();
    std::error_code error;
    fs::create_directories(parent, error);
    const std::string name = std::string(prefix) + makeUuid();
    m_path = parent / name;
    // A fresh name made by us alone: mkdir fails rather than reuse anything there.
    if (::mkdir(m_path.c_str(), 0700) != 0)
        throw SystemError("Не удалось создать временную папку", m_path, errno);
    const std::string marker = (m_path / (name + std::string(markerSuffix))).string();
    m_marker.reset(
        ::open(marker.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    // Another run's cleaning may hold the lock for a moment while it reads a marker not
    // yet written; it then leaves the folder be. On a file system without locks nobody
    // can take it, and nobody proves the folder abandoned either.
    int failure = m_marker ? EWOULDBLOCK : errno;
    for (int attempt = 0; m_marker && failure == EWOULDBLOCK && attempt < 200; ++attempt) {
        failure = ::flock(m_marker.get(), LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
        if (failure == EWOULDBLOCK) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (failure != EWOULDBLOCK && m_marker) {
        const std::string text = markerText(name);
        const bool written = ::pwrite(m_marker.get(), text.data(), text.size(), 0) ==
                             static_cast<ssize_t>(text.size());
        failure = written ? 0 : errno;
    }
    if (failure != 0) {
        fs::remove_all(m_path, error);
        throw SystemError("Не удалось создать временную папку", m_path, failure);
    }
}

RunScratch::~RunScratch() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

} // namespace lumatra
