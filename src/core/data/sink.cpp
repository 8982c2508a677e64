#include "data/sink.h"

#include "formats/convert_error.h"

#include <unistd.h>

#include <cerrno>

namespace lumatra {

void Sink::checkStop() const {
    if (m_stop.stop_requested()) throw CancelledError();
}

void Sink::pollSlowly() {
    m_polls = 0;
    checkStop();
    if (m_fd >= 0 && m_text.size() >= flushSize) flush();
}

void Sink::appendLarge(std::string_view piece) {
    if (m_fd < 0) {
        m_text.append(piece);
        return;
    }
    flush();
    // In slices, so that a stop is noticed while a large piece goes out.
    constexpr std::size_t slice = 8 << 20;
    while (!piece.empty()) {
        checkStop();
        const std::size_t size = piece.size() < slice ? piece.size() : slice;
        writeAll(piece.substr(0, size));
        piece.remove_prefix(size);
    }
}

void Sink::rewind() {
    m_text.clear();
    if (m_fd < 0) return;
    if (::lseek(m_fd, 0, SEEK_SET) != 0 || ::ftruncate(m_fd, 0) != 0)
        throw SystemError("Не удалось записать", m_path, errno);
}

void Sink::finish() {
    checkStop();
    if (m_fd >= 0) flush();
}

void Sink::flush() {
    writeAll(m_text);
    m_text.clear();
}

void Sink::writeAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw SystemError("Не удалось записать", m_path, n < 0 ? errno : EIO);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

} // namespace lumatra
