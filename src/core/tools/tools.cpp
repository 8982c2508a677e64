#include "tools/tools.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace lumatra {
namespace {

bool isExecutableFile(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::filesystem::path ownFolder() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
}

} // namespace

const std::vector<std::filesystem::path>& Tools::fixedFolders() {
    static const std::vector<std::filesystem::path> folders = {
        "/opt/homebrew/bin", "/usr/local/bin", "/opt/local/bin", "/usr/bin"};
    return folders;
}

std::vector<std::filesystem::path> Tools::searchList(std::string_view pathVariable) {
    std::vector<std::filesystem::path> folders;
    while (!pathVariable.empty()) {
        const auto colon = pathVariable.find(':');
        const auto piece = pathVariable.substr(0, colon);
        if (!piece.empty()) {
            std::error_code ignored;
            // Relative pieces such as "." count from the current folder.
            auto folder = std::filesystem::absolute(std::filesystem::path(piece), ignored);
            folders.push_back(folder.empty() ? std::filesystem::path(piece) : folder);
        }
        if (colon == std::string_view::npos) break;
        pathVariable.remove_prefix(colon + 1);
    }
    const auto& fixed = fixedFolders();
    folders.insert(folders.end(), fixed.begin(), fixed.end());
    return folders;
}

std::optional<std::filesystem::path>
Tools::find(std::string_view name, const std::vector<std::filesystem::path>& folders) {
    for (const auto& folder : folders) {
        auto candidate = folder / name;
        if (isExecutableFile(candidate)) return candidate;
    }
    return std::nullopt;
}

Tools Tools::locate() {
    const char* path = std::getenv("PATH");
    const auto folders = searchList(path ? path : "");
    Tools tools;
    tools.ffmpeg = find("ffmpeg", folders);
    tools.ffprobe = find("ffprobe", folders);
    const std::filesystem::path systemTextutil = "/usr/bin/textutil";
    // Our own text converter is installed (and built) beside the executable; a copy on
    // the search list serves when there is none there.
    const auto besideUs = ownFolder() / "lumatra-textutil";
    if (isExecutableFile(systemTextutil))
        tools.textutil = systemTextutil;
    else if (isExecutableFile(besideUs))
        tools.textutil = besideUs;
    else
        tools.textutil = find("lumatra-textutil", folders).value_or(besideUs);
    return tools;
}

} // namespace lumatra
