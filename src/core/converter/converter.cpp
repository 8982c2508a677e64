#include "converter/converter.h"

#include "converter/families.h"
#include "converter/output_slot.h"
#include "data/data_converter.h"
#include "document/document_converter.h"
#include "tools/unique_fd.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace lumatra {
namespace {

std::string stemOf(const std::filesystem::path& source) {
    const std::string name = source.filename().string();
    const std::string extension = pathExtension(source);
    return extension.empty() ? name : name.substr(0, name.size() - extension.size() - 1);
}

std::filesystem::path candidateName(const std::filesystem::path& folder, const std::string& stem,
                                    Format format, bool isFolder, int number) {
    std::string name = isFolder ? stem + " — " + std::string(title(format)) : stem;
    if (number > 1) name += " " + std::to_string(number);
    if (!isFolder) name += "." + std::string(ext(format));
    return folder / name;
}

bool itemExists(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// An RTFD document is a package: a folder holding its TXT.rtf, which the document route
// opens itself.
bool isPackage(const std::filesystem::path& source) {
    return lowercased(pathExtension(source)) == "rtfd";
}

void refuseIrregular(const struct stat& info, const std::filesystem::path& source) {
    if (S_ISDIR(info.st_mode) && isPackage(source)) return;
    if (S_ISDIR(info.st_mode))
        throw ConvertError::failed("Это папка, а не файл: " + source.string());
    if (!S_ISREG(info.st_mode))
        throw ConvertError::failed("Это не обычный файл: " + source.string());
}

// Whether the open file lies on one of the kernel's own file systems, whose "regular"
// files are views of the running system: some never end, and some block a reader until
// the kernel has something to say (/proc/kmsg, trace pipes).
bool onKernelFileSystem(int fd) {
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0) return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
        return true;
    default:
        return false;
    }
}

// The source's status (links followed). Pipes, devices, sockets, folders and the kernel's
// own files are refused here, before any program or reader could wait on them for ever.
struct stat checkSource(const std::filesystem::path& source) {
    struct stat info {};
    if (::stat(source.c_str(), &info) != 0) {
        if (errno == ENOENT) throw ConvertError::failed("Файл не найден: " + source.string());
        throw SystemError("Не удалось открыть", source, errno);
    }
    refuseIrregular(info, source);
    // Should the name have become a pipe meanwhile, this open does not wait for a writer.
    const int flags =
        O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (S_ISDIR(info.st_mode) ? O_DIRECTORY : 0);
    const UniqueFd fd(::open(source.c_str(), flags));
    if (!fd || ::fstat(fd.get(), &info) != 0)
        throw SystemError("Не удалось открыть", source, errno);
    refuseIrregular(info, source);
    if (onKernelFileSystem(fd.get()))
        throw ConvertError::failed("Это не обычный файл: " + source.string());
    return info;
}

// A final name the folder cannot take is found now, not after a long conversion.
void checkNameLength(const OutputFolder& folder, const std::string& stem, Format format,
                     Kind kind) {
    const auto fits = [&](bool isFolder) {
        const auto name = candidateName(folder.path(), stem, format, isFolder, 1).filename();
        if (static_cast<long>(name.native().size()) <= folder.nameMax()) return;
        throw SystemError("Не удалось сохранить результат", folder.path() / name, ENAMETOOLONG);
    };
    fits(false);
    // Documents rendered to pictures may become a folder of pages.
    const bool pages =
        kind == Kind::document && format != Format::pdf &&
        std::find(imageTargets.begin(), imageTargets.end(), format) != imageTargets.end();
    if (pages) fits(true);
}

// An upper-case UUID, 8-4-4-4-12, as the scratch helpers write them.
bool isRunUuid(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const char c = text[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        if (dash ? c != '-' : !hex) return false;
    }
    return true;
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty()) return;
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

// The end of a path that starts at `at` in a message: the closing quote, or the line's end.
std::size_t pathEnd(const std::string& text, std::size_t at) {
    while (at < text.size() && text[at] != '\n' && text.compare(at, 2, "»") != 0)
        ++at;
    return at;
}

// A failure's text as the user should read it: the run's private folder and item, under
// any of their names (through a descriptor of ours or of a program we ran), read as the
// output the user asked for; a scratch copy in the temporary folder reads as the source.
std::string shownText(std::string text, const OutputSlot& slot, const std::filesystem::path& source,
                      const std::filesystem::path& shownOutput) {
    const std::string item = slot.path().filename().string();
    replaceAll(text, slot.anchoredPath().string(), shownOutput.string());
    replaceAll(text, slot.path().string(), shownOutput.string());
    for (const std::string_view descriptors : {"/proc/self/fd/", "/proc/"}) {
        for (std::size_t at = 0; (at = text.find(descriptors, at)) != std::string::npos;) {
            const std::size_t end = pathEnd(text, at);
            if (!std::string_view(text).substr(at, end - at).ends_with("/" + item)) {
                at = end;
                continue;
            }
            text.replace(at, end - at, shownOutput.string());
            at += shownOutput.string().size();
        }
    }
    replaceAll(text, slot.path().parent_path().string(), shownOutput.parent_path().string());
    replaceAll(text, item, shownOutput.filename().string());
    // The document family's scratch folders: "<temporary folder>/lumatra-<UUID>/…".
    std::error_code error;
    const std::string scratch = (std::filesystem::temp_directory_path(error) / "lumatra-").string();
    for (std::size_t at = 0; !error && (at = text.find(scratch, at)) != std::string::npos;) {
        const std::size_t end = pathEnd(text, at);
        const std::size_t uuidAt = at + scratch.size();
        if (end < uuidAt + 37 || text[uuidAt + 36] != '/' ||
            !isRunUuid(std::string_view(text).substr(uuidAt, 36))) {
            at = uuidAt;
            continue;
        }
        text.replace(at, end - at, source.string());
        at += source.string().size();
    }
    return text;
}

// The result keeps the source's modification time, so that converted photos and songs
// sort as their sources do. A folder of pages gets it on every page and on itself; the
// output folder's own time is left alone. Reached through the run's private folder, so
// nothing another user renames is touched. Best effort: a file system without times
// keeps the conversion's.
void adoptModificationTime(const OutputSlot& slot, const struct stat& source) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
    const auto& item = slot.anchoredPath();
    if (slot.holdsFolder()) {
        std::error_code error;
        for (std::filesystem::directory_iterator it(item, error), end; !error && it != end;
             it.increment(error))
            ::utimensat(AT_FDCWD, it->path().c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    ::utimensat(AT_FDCWD, item.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

} // namespace

std::filesystem::path freeOutputName(const std::filesystem::path& folder, const std::string& stem,
                                     Format format, bool isFolder, int firstNumber) {
    for (int number = std::max(firstNumber, 1);; ++number) {
        auto candidate = candidateName(folder, stem, format, isFolder, number);
        if (!itemExists(candidate)) return candidate;
    }
}

void Converter::convertInto(const OutputSlot& scratch, const std::filesystem::path& source,
                            Format format, Kind kind, const Options& options,
                            const ProgressHandler& progress, std::stop_token stop) const {
    switch (kind) {
    case Kind::audio:
    case Kind::video:
        media(source, format, options.quality, scratch.anchoredPath(), progress, stop);
        break;
    case Kind::image:
        if (format == Format::mp4 || format == Format::webm)
            media(source, format, options.quality, scratch.anchoredPath(), progress, stop);
        else
            imageFamily().convert(source, format, options.quality, scratch.anchoredPath(),
                                  stop);
        break;
    case Kind::document:
        // The text converter writes into the route's own scratch folder; the route
        // moves its result in through our descriptor.
        DocumentConverter(m_tools).convert(source, format, options.quality, scratch.anchoredPath(),
                                           progress, stop);
        break;
    case Kind::data: {
        // Tables and array items stream through without building the whole tree.
        DataConverter::convertFile(source, scratch.anchoredPath(), format, stop);
        break;
    }
    }
}

ConvertResult Converter::run(const std::filesystem::path& source, Format format,
                             const Options& options, const ProgressHandler& progress,
                             std::stop_token stop) const {
    const struct stat sourceInfo = checkSource(source);
    const auto kind = kindOf(source);
    if (!kind) throw ConvertError::unsupported("неизвестный тип ." + pathExtension(source));
    const auto targets = targetsFor(source);
    std::string upperExt = pathExtension(source);
    for (char& c : upperExt)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const std::string route = upperExt + " → " + std::string(title(format));
    if (std::find(targets.begin(), targets.end(), format) == targets.end())
        throw ConvertError::unsupported(route);

    const auto started = std::chrono::steady_clock::now();
    const OutputFolder folder(options.outputDirectory.value_or(source.parent_path()));
    const std::string stem = stemOf(source);
    checkNameLength(folder, stem, format, *kind);
    folder.removeAbandonedItems();

    // The converters write into a private folder of this run; a failure of the folder
    // tells an output folder we may not write to in plain words.
    const OutputSlot scratch(folder, std::string(ext(format)));
    try {
        convertInto(scratch, source, format, *kind, options, progress, stop);
    } catch (const ConvertError& error) {
        if (error.errorCase() != ConvertError::Case::failed) throw;
        throw ConvertError::failed(shownText(error.errorDescription(), scratch, source,
                                             candidateName(folder.path(), stem, format, false, 1)));
    } catch (const SystemError& error) {
        throw ConvertError::failed(shownText(error.what(), scratch, source,
                                             candidateName(folder.path(), stem, format, false, 1)));
    }
    if (stop.stop_requested()) throw CancelledError();
    const bool isFolder = scratch.holdsFolder();
    // A private source stays private: the result gets its permission bits.
    scratch.adoptPermissions(sourceInfo.st_mode);
    adoptModificationTime(scratch, sourceInfo);

    // Another run may take the name between the look and the move; the move never
    // replaces anything, so we simply take the next number.
    std::filesystem::path output;
    for (int number = 1;; ++number) {
        output = freeOutputName(folder.path(), stem, format, isFolder, number);
        if (scratch.moveTo(output.filename().string())) break;
    }
    if (progress) progress(1.0);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    return {output, size(output), elapsed.count()};
}

std::int64_t Converter::size(const std::filesystem::path& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status)) return 0;
    if (!std::filesystem::is_directory(status)) {
        const auto bytes = std::filesystem::file_size(path, error);
        return error ? 0 : static_cast<std::int64_t>(bytes);
    }
    std::int64_t total = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(path, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        std::error_code ignored;
        if (it->is_regular_file(ignored)) {
            const auto bytes = it->file_size(ignored);
            if (!ignored) total += static_cast<std::int64_t>(bytes);
        }
    }
    return total;
}

} // namespace lumatra
