#include "converter/converter.h"

#include "data/data_converter.h"
#include "document/document_converter.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>

namespace lumatra {
namespace {

// A random (version 4) UUID in its 36-character upper-case form.
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
    std::string text;
    static constexpr char hex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += hex[bytes[i] >> 4];
        text += hex[bytes[i] & 0x0F];
    }
    return text;
}

// Removes the temporary item on every way out of a run; after a successful move
// nothing is there any more and the removal quietly does nothing.
class ScratchItem {
public:
    explicit ScratchItem(std::filesystem::path path) : m_path(std::move(path)) {}
    ScratchItem(const ScratchItem&) = delete;
    ScratchItem& operator=(const ScratchItem&) = delete;
    ~ScratchItem() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

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

// Moves `from` to `to` only when nothing is at `to`, atomically. Returns false when
// the name was taken, throws on any other failure.
bool moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST) return false;
    if (errno != EINVAL && errno != ENOSYS)
        throw SystemError("Не удалось сохранить результат", to, errno);
    // A file system without RENAME_NOREPLACE: a hard link is just as exclusive for files.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) return false;
    if (errno != EPERM && errno != ENOTSUP)
        throw SystemError("Не удалось сохранить результат", to, errno);
    // Neither is offered (some network and FUSE file systems, or a folder): the best we
    // can do is to look right before the move.
    if (itemExists(to)) return false;
    if (::rename(from.c_str(), to.c_str()) != 0)
        throw SystemError("Не удалось сохранить результат", to, errno);
    return true;
}

std::string readWholeFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw SystemError("Не удалось открыть", path, errno);
    struct stat info {};
    ::fstat(fd, &info);
    std::string bytes;
    // The size is a hint: the file may grow or shrink while we read it.
    bytes.resize(info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 64 * 1024);
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) bytes.resize(bytes.size() * 2);
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

void writeWholeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wbx");
    if (!file) throw SystemError("Не удалось записать", path, errno);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int writeErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed)
        throw SystemError("Не удалось записать", path, writeErrno ? writeErrno : EIO);
}

} // namespace

std::filesystem::path freeOutputName(const std::filesystem::path& folder, const std::string& stem,
                                     Format format, bool isFolder, int firstNumber) {
    for (int number = std::max(firstNumber, 1);; ++number) {
        auto candidate = candidateName(folder, stem, format, isFolder, number);
        if (!itemExists(candidate)) return candidate;
    }
}

ConvertResult Converter::run(const std::filesystem::path& source, Format format,
                             const Options& options, const ProgressHandler& progress,
                             std::stop_token stop) const {
    const auto kind = kindOf(source);
    if (!kind) throw ConvertError::unsupported("неизвестный тип ." + pathExtension(source));
    const auto targets = targetsFor(source);
    std::string upperExt = pathExtension(source);
    for (char& c : upperExt)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const std::string route = upperExt + " → " + std::string(title(format));
    if (std::find(targets.begin(), targets.end(), format) == targets.end())
        throw ConvertError::unsupported(route);

    // A missing or unreadable source is reported in plain words before anything starts.
    if (::access(source.c_str(), R_OK) != 0) throw SystemError("Не удалось открыть", source, errno);

    const auto started = std::chrono::steady_clock::now();
    const auto folder = options.outputDirectory.value_or(source.parent_path());
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) throw SystemError("Не удалось создать папку", folder, error.value());

    const ScratchItem scratch(folder / (".lumatra-" + makeUuid() + "." + std::string(ext(format))));
    // Trying the scratch name once tells a folder we may not write to in plain words,
    // before any converter runs into it with a message of its own.
    if (const int fd =
            ::open(scratch.path().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        fd >= 0) {
        ::close(fd);
        ::unlink(scratch.path().c_str());
    } else {
        throw SystemError("Не удалось записать в папку", folder, errno);
    }
    bool isFolder = false;
    switch (*kind) {
    case Kind::audio:
    case Kind::video:
        media(source, format, options.quality, scratch.path(), progress, stop);
        break;
    case Kind::image:
        if (format != Format::mp4 && format != Format::webm) throw ConvertError::unsupported(route);
        media(source, format, options.quality, scratch.path(), progress, stop);
        break;
    case Kind::document:
        isFolder = DocumentConverter(m_tools).convert(source, format, options.quality,
                                                      scratch.path(), progress, stop);
        break;
    case Kind::data: {
        // Tables and JSON records stream through without building the whole tree.
        writeWholeFile(scratch.path(),
                       DataConverter::convert(readWholeFile(source),
                                              lowercased(pathExtension(source)), format));
        break;
    }
    }
    if (stop.stop_requested()) throw CancelledError();
    // Probing the scratch item tells a folder of pages from a single file.
    isFolder = std::filesystem::is_directory(scratch.path(), error);

    // Another run may take the name between the look and the move; the move never
    // replaces anything, so we simply take the next number.
    const std::string stem = stemOf(source);
    std::filesystem::path output;
    for (int number = 1;; ++number) {
        output = freeOutputName(folder, stem, format, isFolder, number);
        if (moveWithoutReplacing(scratch.path(), output)) break;
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
