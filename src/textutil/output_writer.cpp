#include "output_writer.h"

#include "source_preparer.h"
#include "termination.h"
#include "tool_error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace lumatra::textutil {
namespace {

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw systemFailure("Не удалось прочитать", path.string(), errno ? errno : EIO);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeAll(int fd, std::string_view bytes, const std::filesystem::path& path) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw systemFailure("Не удалось записать", path.string(), n < 0 ? errno : EIO);
        written += static_cast<std::size_t>(n);
    }
}

// The mkstemp template of a hidden name beside `output`.
std::string partialTemplate(const std::filesystem::path& output) {
    std::string name = ".";
    name += output.filename().string();
    name += ".XXXXXX";
    return (output.parent_path() / name).string();
}

// Writes `bytes` to a fresh hidden name beside `output`; returns that name.
std::filesystem::path writePartial(const std::filesystem::path& output, std::string_view bytes) {
    std::string name = partialTemplate(output);
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) throw systemFailure("Не удалось записать", output.string(), errno);
    Termination::setPartial(name);
    try {
        writeAll(fd, bytes, output);
        ::fchmod(fd, 0644);
    } catch (...) {
        ::close(fd);
        ::unlink(name.c_str());
        throw;
    }
    if (::close(fd) != 0) {
        const int reason = errno;
        ::unlink(name.c_str());
        throw systemFailure("Не удалось записать", output.string(), reason);
    }
    return name;
}

} // namespace

std::string normalizedText(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            out += text[i];
            continue;
        }
        out += '\n';
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    return out;
}

std::string withoutPictureFallbacks(std::string_view rtf) {
    constexpr std::string_view fallback = "{\\nonshppict";
    std::string out;
    out.reserve(rtf.size());
    std::size_t copied = 0;
    for (std::size_t at = rtf.find(fallback); at != std::string_view::npos;
         at = rtf.find(fallback, copied)) {
        // Only a group that is a picture's fallback is dropped: the control word ends here.
        const std::size_t after = at + fallback.size();
        if (after < rtf.size() && ((rtf[after] >= 'a' && rtf[after] <= 'z') ||
                                   (rtf[after] >= '0' && rtf[after] <= '9'))) {
            out.append(rtf.substr(copied, after - copied));
            copied = after;
            continue;
        }
        int depth = 0;
        std::size_t end = at;
        for (; end < rtf.size(); ++end) {
            const char c = rtf[end];
            if (c == '\\') {
                ++end; // an escaped character or the first letter of a control word
            } else if (c == '{') {
                ++depth;
            } else if (c == '}' && --depth == 0) {
                break;
            }
        }
        if (end >= rtf.size()) break; // unbalanced: keep the rest as it is
        out.append(rtf.substr(copied, at - copied));
        copied = end + 1;
    }
    out.append(rtf.substr(copied));
    return out;
}

void placeOutput(const std::filesystem::path& result, OutputFormat format,
                 const std::filesystem::path& output) {
    std::string bytes = readAll(result);
    if (format == OutputFormat::rtf || format == OutputFormat::rtfd)
        bytes = withoutPictureFallbacks(bytes);
    if (format == OutputFormat::txt) bytes = normalizedText(bytes);
    if (format == OutputFormat::html) bytes = withoutEmptyDates(bytes);

    const std::lock_guard lock(Termination::guard());
    std::filesystem::path partial;
    try {
        if (format == OutputFormat::rtfd) {
            std::string name = partialTemplate(output);
            if (!::mkdtemp(name.data()))
                throw systemFailure("Не удалось создать папку", output.string(), errno);
            partial = name;
            Termination::setPartial(partial);
            ::chmod(partial.c_str(), 0755);
            const auto rich = partial / "TXT.rtf";
            const int fd = ::open(rich.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0) throw systemFailure("Не удалось записать", rich.string(), errno);
            try {
                writeAll(fd, bytes, rich);
            } catch (...) {
                ::close(fd);
                throw;
            }
            if (::close(fd) != 0) throw systemFailure("Не удалось записать", rich.string(), errno);
        } else {
            partial = writePartial(output, bytes);
        }
        if (::rename(partial.c_str(), output.c_str()) != 0)
            throw systemFailure("Не удалось записать", output.string(), errno);
        Termination::setPartial({});
        Termination::setPlaced();
    } catch (...) {
        std::error_code ignored;
        if (!partial.empty()) std::filesystem::remove_all(partial, ignored);
        Termination::setPartial({});
        throw;
    }
}

} // namespace lumatra::textutil
