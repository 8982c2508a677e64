#include "data/plist_binary.h"

#include "data/plist_bridge.h"
#include "data/plist_parts.h"
#include "text/utf8.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace lumatra::Plist {

namespace {

constexpr std::size_t headerSize = 8; // "bplist00"
constexpr std::size_t trailerSize = 32;

enum Kind : unsigned {
    simple = 0x0,
    integer = 0x1,
    real = 0x2,
    date = 0x3,
    data = 0x4,
    asciiString = 0x5,
    utf16String = 0x6,
    utf8String = 0x7,
    uid = 0x8,
    array = 0xA,
    orderedSet = 0xB,
    set = 0xC,
    dictionary = 0xD,
};

std::uint64_t bigEndian(const unsigned char* p, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value = (value << 8) | p[i];
    return value;
}

void appendUtf16(std::string& out, const unsigned char* p, std::uint64_t units) {
    for (std::uint64_t i = 0; i < units; ++i) {
        auto unit = static_cast<char32_t>(bigEndian(p + 2 * i, 2));
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const auto low = static_cast<char32_t>(bigEndian(p + 2 * i + 2, 2));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                utf8::appendCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
        utf8::appendCodePoint(out, unit);
    }
}

// Reads objects through the offset table. Containers are read without recursion: the
// open ones wait on a stack, each with the children it still has to fill in.
class BinaryReader {
public:
    BinaryReader(std::string_view bytes, std::stop_token stop)
        : m_p(reinterpret_cast<const unsigned char*>(bytes.data())), m_size(bytes.size()),
          m_stop(std::move(stop)) {
        if (m_size < headerSize + trailerSize + 1) throw unreadable();
        const unsigned char* trailer = m_p + m_size - trailerSize;
        m_offsetSize = trailer[6];
        m_refSize = trailer[7];
        m_count = bigEndian(trailer + 8, 8);
        m_top = bigEndian(trailer + 16, 8);
        m_table = bigEndian(trailer + 24, 8);
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8 ||
            m_count == 0 || m_top >= m_count || m_table < headerSize ||
            m_table > m_size - trailerSize ||
            m_count > (m_size - trailerSize - m_table) / m_offsetSize)
            throw unreadable();
        m_open.assign(m_count, 0);
        // Every value but the top one costs at least one reference byte, so a file that
        // expands beyond this shares objects to blow up.
        m_budget = m_size + 65536;
    }

    Node document(const ItemHandler* onItem) {
        const Header top = header(m_top);
        if (!onItem || (top.kind != array && top.kind != orderedSet && top.kind != set))
            return value(m_top);
        m_open[m_top] = 1;
        for (std::uint64_t i = 0; i < top.length; ++i)
            (*onItem)(value(reference(top, i), 1));
        return Node::array();
    }

    bool members(const MemberHandlers& handlers) {
        const Header top = header(m_top);
        if (top.kind != dictionary) return false;
        count();
        m_open[m_top] = 1;
        for (auto& [key, object] : sortedEntries(top)) {
            handlers.onKey(std::move(key));
            const Header h = header(object);
            if (h.kind != array && h.kind != orderedSet && h.kind != set) {
                handlers.onValue(value(object, 1));
                continue;
            }
            // An array as the value of a top member: its elements one by one.
            count();
            if (m_open[object]) throw unreadable();
            m_open[object] = 1;
            for (std::uint64_t i = 0; i < h.length; ++i)
                handlers.onItem(value(reference(h, i), 2));
            m_open[object] = 0;
            handlers.onArrayEnd();
        }
        return true;
    }

private:
    struct Header {
        unsigned kind;
        unsigned info;
        std::uint64_t length; // elements, bytes or UTF-16 units
        std::uint64_t at;     // where the payload starts
    };

    struct Frame {
        std::uint64_t object;
        Header header;
        Node* node;
        std::vector<std::uint64_t> values; // sorted dictionary values; empty for arrays
        std::uint64_t next = 0;
    };

    std::uint64_t offsetOf(std::uint64_t object) const {
        const std::uint64_t offset = bigEndian(m_p + m_table + object * m_offsetSize, m_offsetSize);
        if (offset < headerSize || offset >= m_table) throw unreadable();
        return offset;
    }

    Header header(std::uint64_t object) const {
        const std::uint64_t offset = offsetOf(object);
        const unsigned marker = m_p[offset];
        Header h{marker >> 4, marker & 0x0Fu, marker & 0x0Fu, offset + 1};
        const bool counted = h.kind == data || h.kind == asciiString || h.kind == utf16String ||
                             h.kind == utf8String || h.kind == array || h.kind == orderedSet ||
                             h.kind == set || h.kind == dictionary;
        if (!counted) return h;
        if (h.info == 0x0F) {
            if (h.at >= m_table || (m_p[h.at] >> 4) != integer) throw unreadable();
            const std::size_t width = std::size_t{1} << (m_p[h.at] & 0x0F);
            if (width > 8 || h.at + 1 + width > m_table) throw unreadable();
            h.length = bigEndian(m_p + h.at + 1, width);
            h.at += 1 + width;
        }
        std::uint64_t unitSize = 1;
        if (h.kind == utf16String) unitSize = 2;
        if (h.kind >= array) unitSize = h.kind == dictionary ? 2 * m_refSize : m_refSize;
        if (h.length > (m_table - h.at) / unitSize) throw unreadable();
        return h;
    }

    std::uint64_t reference(const Header& h, std::uint64_t index) const {
        const std::uint64_t object = bigEndian(m_p + h.at + index * m_refSize, m_refSize);
        if (object >= m_count) throw unreadable();
        return object;
    }

    std::string text(const Header& h) const {
        std::string out;
        const std::uint64_t bytes = h.kind == utf16String ? 2 * h.length : h.length;
        const std::string_view raw(reinterpret_cast<const char*>(m_p + h.at), bytes);
        switch (h.kind) {
        case asciiString:
        case utf8String:
            // A byte that is no ASCII (or no UTF-8) is replaced, like in every other text.
            if (utf8::isValid(raw)) return std::string(raw);
            utf8::appendRepaired(out, raw);
            return out;
        case utf16String:
            appendUtf16(out, m_p + h.at, h.length);
            return out;
        default:
            throw unreadable();
        }
    }

    Node scalar(const Header& h) const {
        const unsigned char* payload = m_p + h.at;
        switch (h.kind) {
        case simple:
            if (h.info == 0x8 || h.info == 0x9) return Node::boolean(h.info == 0x9);
            if (h.info == 0x0 || h.info == 0xF) return Node::null();
            throw unreadable();
        case integer: {
            if (h.info > 4) throw unreadable();
            const std::size_t width = std::size_t{1} << h.info;
            if (h.at + width > m_table) throw unreadable();
            // Eight bytes are signed; sixteen hold an unsigned value in their low half.
            if (width == 16) return Node::number(std::to_string(bigEndian(payload + 8, 8)));
            const std::uint64_t value = bigEndian(payload, width);
            if (width == 8) return Node::number(std::to_string(static_cast<std::int64_t>(value)));
            return Node::number(std::to_string(value));
        }
        case real:
        case date: {
            if ((h.info != 2 && h.info != 3) || (h.kind == date && h.info != 3)) throw unreadable();
            const std::size_t width = std::size_t{1} << h.info;
            if (h.at + width > m_table) throw unreadable();
            double value;
            if (width == 4) {
                const auto bits = static_cast<std::uint32_t>(bigEndian(payload, 4));
                float single;
                std::memcpy(&single, &bits, sizeof single);
                value = single;
            } else {
                const std::uint64_t bits = bigEndian(payload, 8);
                std::memcpy(&value, &bits, sizeof value);
            }
            if (h.kind == date) return Node::string(isoDate(value + appleEpoch));
            // Infinities and NaN have no JSON number form; they stay readable as text.
            if (!std::isfinite(value)) return Node::string(realText(value));
            return Node::number(realText(value));
        }
        case data:
            return Node::string(
                base64(std::string_view(reinterpret_cast<const char*>(payload), h.length)));
        case asciiString:
        case utf16String:
        case utf8String:
            return Node::string(text(h));
        case uid: {
            const std::size_t width = h.info + 1;
            if (width > 8 || h.at + width > m_table) throw unreadable();
            return Node::string("{value = " + std::to_string(bigEndian(payload, width)) + "}");
        }
        default:
            throw unreadable();
        }
    }

    void count() {
        if (++m_values > m_budget) throw unreadable();
        if ((m_values & 0xFFF) == 0 && m_stop.stop_requested()) throw CancelledError();
    }

    // A dictionary's keys and value objects, sorted by key in code-point order, which is
    // the byte order of UTF-8.
    std::vector<std::pair<std::string, std::uint64_t>> sortedEntries(const Header& h) {
        std::vector<std::pair<std::string, std::uint64_t>> entries;
        entries.reserve(h.length);
        for (std::uint64_t i = 0; i < h.length; ++i) {
            count();
            const Header key = header(reference(h, i));
            if (key.kind != asciiString && key.kind != utf16String && key.kind != utf8String)
                throw unreadable();
            entries.emplace_back(text(key), reference(h, h.length + i));
        }
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        return entries;
    }

    // Makes `node` the object's value: scalars at once, containers sized and opened.
    void start(std::uint64_t object, Node& node, std::vector<Frame>& stack) {
        count();
        const Header h = header(object);
        if (h.kind < array || h.kind == 0xE || h.kind == 0xF) {
            if (h.kind >= array) throw unreadable();
            node = scalar(h);
            return;
        }
        if (m_open[object]) throw unreadable(); // it contains itself
        if (stack.size() + m_baseDepth >= maxDepth) throw tooDeep();
        Frame frame{object, h, &node, {}};
        if (h.kind != dictionary) {
            node = Node::array(Node::Array(h.length));
        } else {
            auto entries = sortedEntries(h);
            Node::Object members(entries.size());
            frame.values.reserve(entries.size());
            for (std::size_t i = 0; i < entries.size(); ++i) {
                members[i].first = std::move(entries[i].first);
                frame.values.push_back(entries[i].second);
            }
            node = Node::object(std::move(members));
        }
        m_open[object] = 1;
        stack.push_back(std::move(frame));
    }

    Node value(std::uint64_t object, std::size_t depth = 0) {
        Node root;
        std::vector<Frame> stack;
        m_baseDepth = depth;
        start(object, root, stack);
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next == frame.header.length) {
                m_open[frame.object] = 0;
                stack.pop_back();
                continue;
            }
            const std::uint64_t index = frame.next++;
            if (frame.header.kind == dictionary) {
                Node& child = frame.node->members()[index].second;
                start(frame.values[index], child, stack);
            } else {
                Node& child = frame.node->items()[index];
                start(reference(frame.header, index), child, stack);
            }
        }
        return root;
    }

    const unsigned char* m_p;
    std::size_t m_size;
    std::stop_token m_stop;
    std::size_t m_offsetSize = 0;
    std::size_t m_refSize = 0;
    std::uint64_t m_count = 0;
    std::uint64_t m_top = 0;
    std::uint64_t m_table = 0;
    std::vector<std::uint8_t> m_open; // objects being read, to find circles
    std::uint64_t m_values = 0;
    std::uint64_t m_budget = 0;
    std::size_t m_baseDepth = 0;
};

} // namespace

bool isBinary(std::string_view bytes) {
    return bytes.starts_with("bplist0");
}

Node readBinary(std::string_view bytes, const ItemHandler* onItem, std::stop_token stop) {
    return BinaryReader(bytes, std::move(stop)).document(onItem);
}

bool readBinaryMembers(std::string_view bytes, const MemberHandlers& handlers,
                       std::stop_token stop) {
    return BinaryReader(bytes, std::move(stop)).members(handlers);
}

} // namespace lumatra::Plist
