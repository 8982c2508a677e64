#pragma once
// Turns the byte chunks a program writes into whole lines.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace lumatra {

/// Collects chunks and emits every complete line: CR and LF both end a line, empty
/// lines are dropped, a line written in several pieces comes out once, whole. Lines are
/// decoded as UTF-8 with U+FFFD in place of invalid bytes; since lines only end at ASCII
/// bytes, a character split between chunks is kept until its line is complete.
/// A line longer than `maxLine` bytes is cut there and the rest of it dropped, so memory
/// stays bounded whatever the program writes.
class LineSplitter {
public:
    using Sink = std::function<void(std::string&& line)>;

    explicit LineSplitter(Sink sink, std::size_t maxLine = 64 * 1024)
        : m_sink(std::move(sink)), m_maxLine(maxLine) {}

    void feed(std::string_view chunk);
    /// Emits the last line when the output did not end with a line break.
    void finish();

private:
    void emit();

    Sink m_sink;
    std::size_t m_maxLine;
    std::string m_pending;
    bool m_overlong = false;
};

} // namespace lumatra
