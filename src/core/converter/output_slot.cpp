#include "converter/output_slot.h"

#include "formats/convert_error.h"
#include "tools/uuid.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace lumatra {
namespace {

constexpr std::string_view hiddenPrefix = ".lumatra-";
// The marker a run keeps in its private folder, locked while the run lives; it names the
// folder and the run's process.
constexpr std::string_view markerSuffix = ".lock";
constexpr std::size_t maxMarkerBytes = 64;
// A folder of pages holds no more than this many; anything larger is not a leftover.
constexpr std::size_t maxLeftoverPages = 100000;

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

bool sameItem(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the file system of the open folder `fd` keeps owners and modes of its own, rather
// than showing every item with those its mount options give (FAT and exFAT drives, NTFS,
// SMB shares, FUSE).
bool keepsOwnership(int fd) {
    constexpr unsigned long ntfs3Magic = 0x7366746e; // not in every kernel's headers
    constexpr unsigned long ntfsMagic = 0x5346544e;
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0) return true;
    switch (static_cast<unsigned long>(info.f_type)) {
    case MSDOS_SUPER_MAGIC:
    case EXFAT_SUPER_MAGIC:
    case ntfs3Magic:
    case ntfsMagic:
    case CIFS_SUPER_MAGIC:
    case SMB2_SUPER_MAGIC:
    case FUSE_SUPER_MAGIC:
        return false;
    default:
        return true;
    }
}

// The mode a new private folder is made with: the owner's, and passage for others, which
// no folder of a user's is likely to have; the folder gets 0700 once it is proven ours.
constexpr mode_t newFolderMode = 0701;

// Whether the folder has a default ACL, which replaces the umask for what is made in it.
bool hasDefaultAcl(int folderFd) {
    return ::fgetxattr(folderFd, "system.posix_acl_default", nullptr, 0) > 0;
}

// Whether the open folder `fd` is the one a mkdirat(newFolderMode) in the folder `parent`
// (as it was right before; `parentFd` now) made: empty, on the same file system, ours with
// the mode and group a new folder gets there (where the file system keeps them), and,
// where the file system records births, born no earlier than the parent's last change —
// any folder that was there already is older, by the file system's own clock.
bool isFreshFolder(int fd, int parentFd, const struct stat& parent) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_dev != parent.st_dev)
        return false;
    if (keepsOwnership(fd)) {
        if (info.st_uid != ::geteuid()) return false;
        const bool inheritsGroup = (parent.st_mode & S_ISGID) != 0;
        if (info.st_gid != (inheritsGroup ? parent.st_gid : ::getegid())) return false;
        const mode_t bits = info.st_mode & 07777 & ~(inheritsGroup ? S_ISGID : 0);
        // A default ACL may take the passage away again.
        const bool fits = bits == (newFolderMode & ~currentUmask()) ||
                          (hasDefaultAcl(parentFd) && (bits == 0700 || bits == newFolderMode));
        if (!fits) return false;
    }
    // Empty: two links ("." and its name), or one where the file system does not count
    // them (btrfs, and overlayfs for some folders), and no entries.
    if (info.st_nlink > 2 || !folderEntries(fd).empty()) return false;
    struct statx birth {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &birth) != 0 || !(birth.stx_mask & STATX_BTIME))
        return true;
    const auto& changed = parent.st_mtim;
    return birth.stx_btime.tv_sec > changed.tv_sec ||
           (birth.stx_btime.tv_sec == changed.tv_sec &&
            birth.stx_btime.tv_nsec >= static_cast<std::uint32_t>(changed.tv_nsec));
}

void chmodEntry(int parentFd, const std::string& name, mode_t mode) {
    const UniqueFd fd(
        ::openat(parentFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd) ::fchmod(fd.get(), mode);
}

bool isUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// ".lumatra-" and an upper-case UUID (8-4-4-4-12), the only names a run gives its folder.
bool isRunFolderName(std::string_view name) {
    if (!name.starts_with(hiddenPrefix)) return false;
    const std::string_view uuid = name.substr(hiddenPrefix.size());
    if (uuid.size() != 36) return false;
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? uuid[i] != '-' : !isUpperHex(uuid[i])) return false;
    }
    return true;
}

bool isExtension(std::string_view text) {
    if (text.empty() || text.size() > 8) return false;
    for (const char c : text)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

bool isDigits(std::string_view text) {
    if (text.empty() || text.size() > 12) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string markerName(std::string_view folderName) {
    return std::string(folderName) + std::string(markerSuffix);
}

std::string markerText(std::string_view folderName) {
    return std::string(folderName) + " " + std::to_string(::getpid()) + "\n";
}

// Whether the marker says it belongs to the folder `folderName`: "<name> <pid>\n".
bool isMarkerText(std::string_view text, std::string_view folderName) {
    if (!text.starts_with(folderName) || !text.ends_with('\n')) return false;
    text.remove_prefix(folderName.size());
    text.remove_suffix(1);
    return text.starts_with(' ') && isDigits(text.substr(1));
}

// A plain file of ours with no other name, not a link.
bool isOwnFile(const struct stat& info) {
    return S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && info.st_nlink == 1;
}

bool isOwnFolder(const struct stat& info) {
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

// What a run of ours leaves in its private folder when it is killed: its marker, and at
// most one item — the result under the folder's name and the format's extension (a file,
// or a folder of pages "Страница N.ext"), or the text converter's hidden partial file
// of that name with six more characters.
class Leftover {
public:
    // Proves that the open folder `folderFd`, named `folderName`, holds exactly that
    // and that its run is gone; the marker stays locked while this object lives.
    static std::optional<Leftover> prove(int folderFd, const std::string& folderName) {
        struct stat info {};
        if (::fstat(folderFd, &info) != 0 || !isOwnFolder(info) || (info.st_mode & 07777) != 0700)
            return std::nullopt;
        Leftover leftover(folderFd, folderName);
        if (!leftover.proveMarker()) return std::nullopt;
        for (const auto& name : folderEntries(folderFd)) {
            if (name == leftover.m_marker) continue;
            if (!leftover.m_item.empty() || !leftover.proveItem(name)) return std::nullopt;
        }
        return leftover;
    }

    // Removes what was proven, name by name, and then the folder if it is still the
    // one that was opened.
    void remove(int parentFd) const {
        if (!m_item.empty()) {
            for (const auto& page : m_pages)
                ::unlinkat(m_itemFd.get(), page.c_str(), 0);
            ::unlinkat(m_folderFd, m_item.c_str(), m_itemFd ? AT_REMOVEDIR : 0);
        }
        ::unlinkat(m_folderFd, m_marker.c_str(), 0);
        struct stat named {};
        struct stat opened {};
        if (::fstatat(parentFd, m_folderName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            ::fstat(m_folderFd, &opened) == 0 && named.st_dev == opened.st_dev &&
            named.st_ino == opened.st_ino)
            ::unlinkat(parentFd, m_folderName.c_str(), AT_REMOVEDIR);
    }

private:
    Leftover(int folderFd, const std::string& folderName)
        : m_folderFd(folderFd), m_folderName(folderName), m_marker(markerName(folderName)) {}

    bool proveMarker() {
        m_markerFd.reset(::openat(m_folderFd, m_marker.c_str(),
                                  O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat info {};
        if (!m_markerFd || ::fstat(m_markerFd.get(), &info) != 0 || !isOwnFile(info) ||
            info.st_size > static_cast<off_t>(maxMarkerBytes))
            return false;
        // A living run holds the lock; a file system without locks never lets it go.
        if (::flock(m_markerFd.get(), LOCK_EX | LOCK_NB) != 0) return false;
        // Read under the lock: a run that is just starting writes its text once it holds it.
        char text[maxMarkerBytes + 1];
        const ssize_t n = ::pread(m_markerFd.get(), text, sizeof text, 0);
        return n > 0 && isMarkerText({text, static_cast<std::size_t>(n)}, m_folderName);
    }

    bool proveItem(const std::string& name) {
        struct stat info {};
        if (::fstatat(m_folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
        const std::string result = m_folderName + ".";
        if (name.starts_with(result) && isExtension(std::string_view(name).substr(result.size()))) {
            m_item = name;
            if (isOwnFile(info)) return true;
            return isOwnFolder(info) && provePages();
        }
        // The text converter's partial file: "." + result + ext + "." + six characters.
        const std::string partial = "." + result;
        const auto dot = name.rfind('.');
        if (!name.starts_with(partial) || dot == std::string::npos || dot < partial.size() ||
            name.size() - dot != 7 ||
            !isExtension(std::string_view(name).substr(partial.size(), dot - partial.size())))
            return false;
        m_item = name;
        return isOwnFile(info);
    }

    bool provePages() {
        m_itemFd.reset(::openat(m_folderFd, m_item.c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat info {};
        if (!m_itemFd || ::fstat(m_itemFd.get(), &info) != 0 || !isOwnFolder(info)) return false;
        static constexpr std::string_view page = "Страница ";
        for (auto& name : folderEntries(m_itemFd.get())) {
            const std::string_view text = name;
            const auto dot = text.rfind('.');
            if (!text.starts_with(page) || dot == std::string_view::npos || dot < page.size() ||
                !isDigits(text.substr(page.size(), dot - page.size())) ||
                !isExtension(text.substr(dot + 1)) || m_pages.size() >= maxLeftoverPages)
                return false;
            if (::fstatat(m_itemFd.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
                !isOwnFile(info))
                return false;
            m_pages.push_back(std::move(name));
        }
        return true;
    }

    int m_folderFd;
    std::string m_folderName;
    std::string m_marker;
    UniqueFd m_markerFd;
    std::string m_item;
    UniqueFd m_itemFd; // when the item is a folder of pages
    std::vector<std::string> m_pages;
};

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
    for (const auto& name : folderEntries(m_fd.get())) {
        if (!isRunFolderName(name)) continue;
        const UniqueFd fd(::openat(m_fd.get(), name.c_str(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        if (!fd) continue;
        if (const auto leftover = Leftover::prove(fd.get(), name)) leftover->remove(m_fd.get());
    }
}

namespace {

std::mutex g_seamMutex;
OutputSlot::Seam g_seam;

void passSeam(OutputSlot::Stage stage, const std::string& name) {
    OutputSlot::Seam seam;
    {
        const std::lock_guard lock(g_seamMutex);
        seam = g_seam;
    }
    if (seam) seam(stage, name);
}

} // namespace

void OutputSlot::setSeam(Seam seam) {
    const std::lock_guard lock(g_seamMutex);
    g_seam = std::move(seam);
}

OutputSlot::OutputSlot(const OutputFolder& folder, const std::string& extension)
    : m_folder(folder) {
    // Anyone who may write to the output folder may exchange the new name with another
    // folder between its creation and our open. What we open is taken only when it is
    // provably what we made; otherwise it is left as it is, and a new name is tried.
    for (int attempt = 0; attempt < 16 && !m_fd; ++attempt) {
        m_folderName = std::string(hiddenPrefix) + makeUuid();
        struct stat parent {};
        if (::fstat(folder.fd(), &parent) != 0)
            throw SystemError("Не удалось записать в папку", folder.path(), errno);
        if (::mkdirat(folder.fd(), m_folderName.c_str(), newFolderMode) != 0) {
            if (errno == EEXIST) continue;
            throw SystemError("Не удалось записать в папку", folder.path(), errno);
        }
        passSeam(Stage::created, m_folderName);
        UniqueFd fd(::openat(folder.fd(), m_folderName.c_str(),
                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd && isFreshFolder(fd.get(), folder.fd(), parent)) m_fd = std::move(fd);
    }
    // Every new name was taken from under us: someone is at work in this folder.
    if (!m_fd) throw SystemError("Не удалось записать в папку", folder.path(), EACCES);
    // The marker proves to a later run's cleaning that the folder is ours, and its lock
    // that we still live. That cleaning may hold the lock for a moment while it looks at
    // a marker not yet written, and leaves it be.
    const std::string marker = markerName(m_folderName);
    const std::string text = markerText(m_folderName);
    if (::fchmod(m_fd.get(), 0700) == 0)
        m_marker.reset(::openat(m_fd.get(), marker.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    for (int attempt = 0; m_marker && attempt < 200; ++attempt) {
        if (::flock(m_marker.get(), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!m_marker || ::pwrite(m_marker.get(), text.data(), text.size(), 0) !=
                         static_cast<ssize_t>(text.size())) {
        const int error = errno;
        ::unlinkat(m_fd.get(), marker.c_str(), 0);
        removeOwnFolder();
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
    passSeam(Stage::ready, m_folderName);
}

OutputSlot::~OutputSlot() {
    // Only the names this run wrote go: the item (a file, or a folder of page files),
    // then the marker, then the folder itself.
    if (::unlinkat(m_fd.get(), m_itemName.c_str(), 0) != 0 && errno == EISDIR) {
        const UniqueFd pages(
            ::openat(m_fd.get(), m_itemName.c_str(),
                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        for (const auto& name : pages ? folderEntries(pages.get()) : std::vector<std::string>{})
            ::unlinkat(pages.get(), name.c_str(), 0);
        ::unlinkat(m_fd.get(), m_itemName.c_str(), AT_REMOVEDIR);
    }
    ::unlinkat(m_fd.get(), markerName(m_folderName).c_str(), 0);
    removeOwnFolder();
}

void OutputSlot::removeOwnFolder() const {
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
