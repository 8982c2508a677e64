#pragma once
// Output text on its way to a file, in pieces, so that no writer holds a whole output.

#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>

namespace lumatra {

/// Writers append to `text()` and call `poll()` between values. With a file, the text
/// goes to it whenever a megabyte has gathered; without one it all stays in `text()`.
/// Either way `poll()` ends the work with CancelledError soon after a stop is requested.
/// Writing failures throw SystemError naming `path`. The sink does not own the file.
class Sink {
public:
    /// Keeps everything in memory.
    explicit Sink(std::stop_token stop = {}) : m_stop(std::move(stop)) {}
    /// Writes to the open descriptor `fd` of the file at `path`.
    Sink(int fd, std::string path, std::stop_token stop)
        : m_fd(fd), m_path(std::move(path)), m_stop(std::move(stop)) {}

    std::string& text() { return m_text; }
    const std::stop_token& stopToken() const { return m_stop; }

    void poll() {
        if (++m_polls >= pollInterval || m_text.size() >= flushSize) pollSlowly();
    }

    /// Throws CancelledError when a stop was requested.
    void checkStop() const;

    /// Appends a large piece: written straight to the file without copying it.
    void appendLarge(std::string_view piece);

    /// Forgets everything written so far, to start the text again.
    void rewind();

    /// Writes whatever is still held; the text is complete.
    void finish();

private:
    static constexpr std::uint32_t pollInterval = 1024;
    static constexpr std::size_t flushSize = 1 << 20;

    void pollSlowly();
    void flush();
    void writeAll(std::string_view bytes);

    int m_fd = -1;
    std::string m_path;
    std::stop_token m_stop;
    std::string m_text;
    std::uint32_t m_polls = 0;
};

} // namespace lumatra
