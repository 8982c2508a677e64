#pragma once
// Where the external programs are.

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace lumatra {

/// The located external programs. Made afresh for every conversion, so a program
/// installed meanwhile is found.
struct Tools {
    std::optional<std::filesystem::path> ffmpeg;
    std::optional<std::filesystem::path> ffprobe;
    /// The text-document converter: /usr/bin/textutil when it is executable, else
    /// lumatra-textutil beside the running executable, else the first on the search list
    /// (beside the executable again when there is none, so that running it fails).
    std::filesystem::path textutil;

    /// Searches the folders of PATH, then the fixed folders. Never fails.
    static Tools locate();

    /// The search list: the non-empty pieces of `pathVariable`, then the fixed folders
    /// (duplicates kept, PATH first).
    static std::vector<std::filesystem::path> searchList(std::string_view pathVariable);

    /// The first executable regular file named `name` in `folders`.
    static std::optional<std::filesystem::path>
    find(std::string_view name, const std::vector<std::filesystem::path>& folders);

    /// The fixed folders searched after PATH.
    static const std::vector<std::filesystem::path>& fixedFolders();
};

} // namespace lumatra
