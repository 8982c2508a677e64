#include "tools/line_splitter.h"

#include "text/utf8.h"

namespace lumatra {

void LineSplitter::feed(std::string_view chunk) {
    while (!chunk.empty()) {
        const auto end = chunk.find_first_of("\r\n");
        const auto piece = chunk.substr(0, end);
        if (!m_overlong) {
            const auto room = m_maxLine - m_pending.size();
            m_pending.append(piece.substr(0, room));
            if (piece.size() > room) m_overlong = true;
        }
        if (end == std::string_view::npos) return;
        emit();
        chunk.remove_prefix(end + 1);
    }
}

void LineSplitter::finish() {
    emit();
}

void LineSplitter::emit() {
    m_overlong = false;
    if (m_pending.empty()) return;
    std::string line;
    line.reserve(m_pending.size());
    utf8::appendRepaired(line, m_pending);
    m_pending.clear();
    m_sink(std::move(line));
}

} // namespace lumatra
