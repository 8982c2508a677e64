#include "page_pictures.h"

#include "data/plist_bridge.h"
#include "document/markdown_pictures.h"
#include "text/ascii.h"
#include "tools/read_to_end.h"
#include "tools/unique_fd.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace lumatra::textutil {
namespace {

constexpr std::size_t maxPictureBytes = std::size_t{16} << 20;
constexpr std::size_t maxTotalBytes = std::size_t{64} << 20;

using ascii::hexValue;
using ascii::isSpace;
using ascii::lower;

bool startsNoCase(std::string_view text, std::size_t at, std::string_view word) {
    if (at + word.size() > text.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (lower(text[at + i]) != word[i]) return false;
    return true;
}

// The address as the page means it: "&amp;" and the like undone, %XX decoded.
std::string decodedAddress(std::string_view address) {
    std::string text;
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (address.substr(i, 5) == "&amp;") {
            text += '&';
            i += 4;
        } else if (address[i] == '%' && i + 2 < address.size() && hexValue(address[i + 1]) >= 0 &&
                   hexValue(address[i + 2]) >= 0) {
            text += static_cast<char>(hexValue(address[i + 1]) * 16 + hexValue(address[i + 2]));
            i += 2;
        } else {
            text += address[i];
        }
    }
    return text;
}

// The picture at `relative` below the open folder `folderFd`, reached without any
// symbolic link or ".." step: a page unpacked from an archive may carry links that lead
// anywhere. Where the kernel cannot resolve so, nothing is read.
std::optional<std::string> readPicture(int folderFd, const std::filesystem::path& relative) {
    open_how how{};
    how.flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    const int fd =
        static_cast<int>(::syscall(SYS_openat2, folderFd, relative.c_str(), &how, sizeof how));
    if (fd < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uint64_t>(info.st_size) > maxPictureBytes) {
        ::close(fd);
        return std::nullopt;
    }
    std::string bytes;
    const int failure =
        readToEnd(fd, static_cast<std::size_t>(info.st_size), maxPictureBytes, bytes);
    ::close(fd);
    if (failure != 0) return std::nullopt;
    return bytes;
}

} // namespace

std::optional<std::string> pictureType(std::string_view bytes) {
    if (auto type = MarkdownPictures::pictureType(bytes)) return type;
    std::string_view start = bytes.substr(0, 512);
    while (!start.empty() && isSpace(start.front()))
        start.remove_prefix(1);
    if ((start.substr(0, 5) == "<?xml" || start.substr(0, 4) == "<svg") &&
        bytes.substr(0, 4096).find("<svg") != std::string_view::npos)
        return "image/svg+xml";
    return std::nullopt;
}

PictureSource folderPictures(const std::filesystem::path& folder) {
    const auto folderFd = std::make_shared<UniqueFd>(::open(
        folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    return [folderFd](std::string_view address) -> std::optional<std::string> {
        if (!*folderFd) return std::nullopt;
        const std::string path = decodedAddress(address);
        if (path.empty() || path.front() == '/' || path.find(':') != std::string::npos ||
            path.find('\0') != std::string::npos)
            return std::nullopt;
        const std::filesystem::path relative(path.substr(0, path.find_first_of("?#")));
        for (const auto& step : relative)
            if (step == "..") return std::nullopt;
        auto bytes = readPicture(folderFd->get(), relative);
        if (!bytes || !pictureType(*bytes)) return std::nullopt;
        return bytes;
    };
}

std::string inlinePictures(std::string_view html, const PictureSource& source) {
    std::string out;
    out.reserve(html.size());
    std::size_t copied = 0;
    std::size_t carried = 0;
    for (std::size_t at = html.find('<'); at != std::string_view::npos;
         at = html.find('<', at + 1)) {
        if (!startsNoCase(html, at + 1, "img") || at + 4 >= html.size() || !isSpace(html[at + 4]))
            continue;
        const std::size_t end = html.find('>', at);
        if (end == std::string_view::npos) break;
        // The src attribute: "src" after white space, "=", a value quoted or not.
        std::size_t name = at + 4;
        while (name < end) {
            while (name < end && isSpace(html[name]))
                ++name;
            if (startsNoCase(html, name, "src") && name + 3 <= end) {
                std::size_t value = name + 3;
                while (value < end && isSpace(html[value]))
                    ++value;
                if (value < end && html[value] == '=') {
                    ++value;
                    while (value < end && isSpace(html[value]))
                        ++value;
                    std::size_t first = value;
                    std::size_t last = value;
                    if (value < end && (html[value] == '"' || html[value] == '\'')) {
                        const char quote = html[value];
                        first = value + 1;
                        last = html.find(quote, first);
                        if (last == std::string_view::npos || last > end) last = end;
                    } else {
                        while (last < end && !isSpace(html[last]))
                            ++last;
                    }
                    const auto address = html.substr(first, last - first);
                    auto picture = source(address);
                    const auto type = picture ? pictureType(*picture) : std::nullopt;
                    if (type && carried + picture->size() <= maxTotalBytes) {
                        carried += picture->size();
                        out.append(html.substr(copied, first - copied));
                        out.append("data:").append(*type).append(";base64,");
                        out.append(Plist::base64(*picture));
                        copied = last;
                    }
                    break;
                }
            }
            // Skip this attribute: its name, then a value if it has one.
            while (name < end && !isSpace(html[name]) && html[name] != '=')
                ++name;
            if (name < end && html[name] == '=') {
                ++name;
                if (name < end && (html[name] == '"' || html[name] == '\'')) {
                    const auto close = html.find(html[name], name + 1);
                    name = close == std::string_view::npos ? end : close + 1;
                } else {
                    while (name < end && !isSpace(html[name]))
                        ++name;
                }
            }
        }
        at = end;
    }
    out.append(html.substr(copied));
    return out;
}

} // namespace lumatra::textutil
