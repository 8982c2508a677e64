#include "tools/line_splitter.h"

#include <algorithm>
#include <cstdint>

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
    std::string line = sanitizeUtf8(m_pending);
    m_pending.clear();
    m_sink(std::move(line));
}

std::string sanitizeUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t lead = data[i];
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint8_t low = 0x80;
        std::uint8_t high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F; // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        // Count how much of a well-formed sequence is there; the maximal invalid prefix
        // becomes one replacement character.
        std::size_t valid = length == 0 ? 0 : 1;
        while (valid > 0 && valid < length && i + valid < size) {
            const std::uint8_t next = data[i + valid];
            const std::uint8_t min = valid == 1 ? low : 0x80;
            const std::uint8_t max = valid == 1 ? high : 0xBF;
            if (next < min || next > max) break;
            ++valid;
        }
        if (length != 0 && valid == length) {
            out.append(bytes.substr(i, length));
            i += length;
        } else {
            out.append("\xEF\xBF\xBD");
            i += std::max<std::size_t>(valid, 1);
        }
    }
    return out;
}

} // namespace lumatra
