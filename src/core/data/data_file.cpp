// The data route's files: the source read whole, the output written as it is made.
#include "data/data_converter.h"

#include "formats/convert_error.h"
#include "tools/read_to_end.h"
#include "tools/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace lumatra::DataConverter {

namespace {

// The whole file; a stop is noticed between slices of the read.
std::string readWholeFile(const std::filesystem::path& path, const std::stop_token& stop) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) throw SystemError("Не удалось открыть", path, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) throw SystemError("Не удалось прочитать", path, errno);
    std::string bytes;
    const int failure =
        readToEnd(fd.get(), static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)), SIZE_MAX,
                  bytes, stop);
    if (failure != 0) throw SystemError("Не удалось прочитать", path, failure);
    return bytes;
}

} // namespace

void convertToDescriptor(const std::filesystem::path& source, int outputFd,
                         const std::filesystem::path& output, Format format, std::stop_token stop) {
    const std::string bytes = readWholeFile(source, stop);
    Sink sink(outputFd, output.string(), stop);
    convert(bytes, lowercased(pathExtension(source)), format, sink);
    sink.finish();
}

void convertFile(const std::filesystem::path& source, const std::filesystem::path& output,
                 Format format, std::stop_token stop) {
    // Closed on every way out; on success once more by hand, to see its error.
    struct Output {
        int fd;
        ~Output() {
            if (fd >= 0) ::close(fd);
        }
    } file{::open(output.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644)};
    if (file.fd < 0) throw SystemError("Не удалось записать", output, errno);
    convertToDescriptor(source, file.fd, output, format, std::move(stop));
    const int status = ::close(std::exchange(file.fd, -1));
    if (status != 0) throw SystemError("Не удалось записать", output, errno);
}

} // namespace lumatra::DataConverter
