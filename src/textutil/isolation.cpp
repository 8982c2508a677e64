#include "isolation.h"

#include "tools/private_folders.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace lumatra::textutil {
namespace {

bool writeProcFile(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return written;
}

} // namespace

bool enterPrivateNetwork() {
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return false;
    // Map our own ids, so that files keep their owner and LibreOffice sees who it is.
    writeProcFile("/proc/self/setgroups", "deny");
    writeProcFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1");
    writeProcFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
    return true;
}

std::optional<std::filesystem::path> privateCacheFolder() {
    std::filesystem::path base;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && cache[0] == '/') {
        base = cache;
    } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        base = std::filesystem::path(home) / ".cache";
    } else {
        return std::nullopt;
    }
    std::error_code error;
    std::filesystem::create_directories(base, error);
    const auto folder = base / "lumatra";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    if (!isPrivateFolder(folder)) return std::nullopt;
    return folder;
}

bool copyTree(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code error;
    if (!std::filesystem::create_directory(to, error) || error) return false;
    std::filesystem::permissions(to, std::filesystem::perms::owner_all, error);
    int entries = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(from, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (++entries > 5000) return false;
        const auto target = to / std::filesystem::relative(it->path(), from, error);
        if (error) return false;
        // The engine's lock of a profile in use belongs to that one process.
        if (it->path().filename() == ".lock") continue;
        const auto status = it->symlink_status(error);
        if (error) return false;
        if (std::filesystem::is_directory(status)) {
            std::filesystem::create_directory(target, error);
        } else if (std::filesystem::is_regular_file(status)) {
            std::filesystem::copy_file(it->path(), target, error);
        }
        if (error) return false;
    }
    return !error;
}

} // namespace lumatra::textutil
