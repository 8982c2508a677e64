#include "data/plist_bridge.h"

#include "data/number_text.h"
#include "text/utf8.h"
#include "formats/convert_error.h"

#include <plist/plist.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace lumatra::Plist {

namespace {

/// Property lists nest no deeper than JSON documents may.
constexpr std::size_t maxDepth = 1024;

/// Seconds from 1970-01-01 to 2001-01-01, where property-list dates count from.
constexpr double appleEpoch = 978307200;

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

struct CFree {
    void operator()(void* memory) const { std::free(memory); }
};

ConvertError unreadable() {
    return ConvertError::failed("Не удалось прочитать список свойств");
}

// libplist's accessors lose what its binary form keeps: whether a 64-bit integer with the
// top bit set is negative or unsigned, and dates beyond 32-bit seconds. Serialising the
// single node shows its first object: marker, then the big-endian payload.
std::string binaryObject(plist_t node, std::size_t limit = 17) {
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(node, &bytes, &length);
    const std::unique_ptr<char, CFree> owner(bytes);
    constexpr std::size_t header = 8;   // "bplist00"
    constexpr std::size_t trailer = 32; // and the offset table before it, at least a byte
    if (!bytes || length < header + trailer + 2) return {};
    return std::string(bytes + header, std::min<std::size_t>(length - header - trailer - 1, limit));
}

std::uint64_t bigEndian(const unsigned char* p, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value = (value << 8) | p[i];
    return value;
}

// The text of a dictionary key. libplist's key accessor aborts on a key holding a zero
// byte, so the key is read from its binary form: ASCII (marker 5x) or UTF-16 (6x).
std::string keyText(plist_t key) {
    const std::string object = binaryObject(key, std::string::npos);
    const auto* p = reinterpret_cast<const unsigned char*>(object.data());
    const std::size_t size = object.size();
    if (size == 0) return {};
    const unsigned kind = p[0] >> 4;
    std::uint64_t count = p[0] & 0x0F;
    std::size_t at = 1;
    if (count == 0x0F) {
        if (size < 2 || (p[1] >> 4) != 1) return {};
        const std::size_t width = std::size_t{1} << (p[1] & 0x0F);
        if (width > 8 || size < 2 + width) return {};
        count = bigEndian(p + 2, width);
        at = 2 + width;
    }
    if (kind == 5) return object.substr(at, std::min<std::uint64_t>(count, size - at));
    if (kind != 6) return {};
    std::string text;
    const std::size_t units = std::min<std::uint64_t>(count, (size - at) / 2);
    for (std::size_t i = 0; i < units; ++i) {
        char32_t unit = static_cast<char32_t>(bigEndian(p + at + 2 * i, 2));
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const auto low = static_cast<char32_t>(bigEndian(p + at + 2 * i + 2, 2));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                utf8::appendCodePoint(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
        utf8::appendCodePoint(text, unit);
    }
    return text;
}

std::string integerText(plist_t node) {
    std::uint64_t value = 0;
    plist_get_uint_val(node, &value);
    if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return std::to_string(value);
    // A 16-byte integer (marker 14) is the unsigned reading; 8 bytes (13) are signed.
    const std::string object = binaryObject(node);
    if (!object.empty() && static_cast<unsigned char>(object[0]) == 0x14)
        return std::to_string(value);
    return std::to_string(static_cast<std::int64_t>(value));
}

Node dateNode(plist_t node) {
    const std::string object = binaryObject(node);
    if (object.size() < 9 || static_cast<unsigned char>(object[0]) != 0x33) return Node::string({});
    std::uint64_t bits = 0;
    for (int i = 1; i <= 8; ++i)
        bits = (bits << 8) | static_cast<unsigned char>(object[i]);
    double seconds;
    std::memcpy(&seconds, &bits, sizeof seconds);
    return Node::string(isoDate(seconds + appleEpoch));
}

std::string realText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

Node scalarNode(plist_t node) {
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return Node::boolean(value != 0);
    }
    case PLIST_UINT:
        return Node::number(integerText(node));
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        // Infinities and NaN have no JSON number form; they stay readable as text.
        if (!std::isfinite(value)) return Node::string(realText(value));
        return Node::number(realText(value));
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        std::uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return Node::string(text ? std::string(text, length) : std::string());
    }
    case PLIST_DATE:
        return dateNode(node);
    case PLIST_DATA: {
        std::uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        return Node::string(bytes ? base64(std::string_view(bytes, length)) : std::string());
    }
    case PLIST_UID: {
        std::uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return Node::string("{value = " + std::to_string(value) + "}");
    }
    case PLIST_ARRAY:
    case PLIST_DICT:
    case PLIST_NONE:
        break;
    }
    return Node::string({});
}

// Converts without recursion: containers are sized first and their children filled in
// from the work list.
Node convert(plist_t root) {
    struct Work {
        plist_t from;
        Node* to;
        std::size_t depth;
    };
    Node tree;
    std::vector<Work> work{{root, &tree, 0}};
    while (!work.empty()) {
        const Work item = work.back();
        work.pop_back();
        const plist_type type = plist_get_node_type(item.from);
        if (type != PLIST_ARRAY && type != PLIST_DICT) {
            *item.to = scalarNode(item.from);
            continue;
        }
        if (item.depth >= maxDepth)
            throw ConvertError::failed(
                "Не удалось прочитать список свойств: слишком глубокая вложенность");
        if (type == PLIST_ARRAY) {
            const std::uint32_t size = plist_array_get_size(item.from);
            *item.to = Node::array(Node::Array(size));
            Node::Array& items = item.to->items();
            for (std::uint32_t i = 0; i < size; ++i)
                work.push_back({plist_array_get_item(item.from, i), &items[i], item.depth + 1});
            continue;
        }
        std::vector<std::pair<std::string, plist_t>> entries;
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(item.from, &iterator);
        const std::unique_ptr<void, CFree> iteratorOwner(iterator);
        for (;;) {
            // The key is looked at separately: a binary file may hold a key that is no
            // string, which libplist's own key accessor answers with an abort.
            plist_t value = nullptr;
            plist_dict_next_item(item.from, iterator, nullptr, &value);
            if (!value) break;
            const plist_t key = plist_dict_item_get_key(value);
            if (!key || plist_get_node_type(key) != PLIST_KEY) throw unreadable();
            entries.emplace_back(keyText(key), value);
        }
        // Code-point order is the byte order of UTF-8.
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        *item.to = Node::object(Node::Object(entries.size()));
        Node::Object& members = item.to->members();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            members[i].first = std::move(entries[i].first);
            work.push_back({entries[i].second, &members[i].second, item.depth + 1});
        }
    }
    return tree;
}

void appendEscaped(std::string& out, std::string_view text) {
    std::string repaired;
    if (!utf8::isValid(text)) {
        utf8::appendRepaired(repaired, text);
        text = repaired;
    }
    for (const char c : text) {
        switch (c) {
        case '&':
            out.append("&amp;");
            break;
        case '<':
            out.append("&lt;");
            break;
        case '>':
            out.append("&gt;");
            break;
        default:
            out.push_back(c);
            break;
        }
    }
}

void appendElement(std::string& out, std::string_view tag, std::string_view text) {
    out.push_back('<');
    out.append(tag);
    out.push_back('>');
    appendEscaped(out, text);
    out.append("</");
    out.append(tag);
    out.append(">\n");
}

// A number text as a property-list value: whole decimal integers within 64 bits are
// integers, other decimal texts reals, anything else a string.
void appendNumber(std::string& out, const std::string& text) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
        negative = digits[0] == '-';
        digits.remove_prefix(1);
    }
    if (!digits.empty() &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::uint64_t magnitude = 0;
        const auto result =
            std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
        if (result.ec == std::errc() && result.ptr == digits.data() + digits.size()) {
            constexpr std::uint64_t minMagnitude =
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1;
            if (!negative) {
                appendElement(out, "integer", std::to_string(magnitude));
                return;
            }
            if (magnitude <= minMagnitude) {
                appendElement(out, "integer",
                              magnitude == 0 ? "0" : "-" + std::to_string(magnitude));
                return;
            }
        }
    }
    if (numberText::isDecimal(text)) {
        std::string_view unsigned_ = text;
        if (unsigned_[0] == '+' || unsigned_[0] == '-') unsigned_.remove_prefix(1);
        double value = 0;
        const auto result = std::from_chars(unsigned_.data(), unsigned_.data() + unsigned_.size(),
                                            value, std::chars_format::general);
        if (result.ec == std::errc::result_out_of_range) {
            // Beyond the range of doubles: infinitely large, or vanishingly small.
            const bool tiny = unsigned_.find_first_of("eE") != std::string_view::npos &&
                              unsigned_[unsigned_.find_first_of("eE") + 1] == '-';
            value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
        }
        if (negative) value = -value;
        if (std::isinf(value)) {
            appendElement(out, "real", value > 0 ? "+infinity" : "-infinity");
            return;
        }
        appendElement(out, "real", realText(value));
        return;
    }
    appendElement(out, "string", text);
}

ConvertError tooDeep() {
    return ConvertError::failed(
        "Не удалось прочитать список свойств: слишком глубокая вложенность");
}

// libplist reads nested containers by recursion, so a deep enough file would exhaust the
// stack. Both forms are measured first; the binary form also may not refer in a circle.
void checkBinaryNesting(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    if (size < 8 + 32) throw unreadable();
    const unsigned char* trailer = p + size - 32;
    const std::size_t offsetSize = trailer[6];
    const std::size_t refSize = trailer[7];
    const std::uint64_t count = bigEndian(trailer + 8, 8);
    const std::uint64_t top = bigEndian(trailer + 16, 8);
    const std::uint64_t table = bigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || count == 0 ||
        top >= count || table < 8 || table > size - 32 || count > (size - 32 - table) / offsetSize)
        throw unreadable();

    // The objects an array, set or dictionary refers to; none for other objects.
    auto children = [&](std::uint64_t object, std::vector<std::uint64_t>& out) {
        out.clear();
        const std::uint64_t offset = bigEndian(p + table + object * offsetSize, offsetSize);
        if (offset < 8 || offset >= table) throw unreadable();
        const unsigned kind = p[offset] >> 4;
        if (kind != 0xA && kind != 0xC && kind != 0xD) return;
        std::uint64_t length = p[offset] & 0x0F;
        std::uint64_t at = offset + 1;
        if (length == 0x0F) {
            if (at >= table || (p[at] >> 4) != 1) throw unreadable();
            const std::size_t width = std::size_t{1} << (p[at] & 0x0F);
            if (width > 8 || at + 1 + width > table) throw unreadable();
            length = bigEndian(p + at + 1, width);
            at += 1 + width;
        }
        const std::uint64_t refs = kind == 0xD ? length * 2 : length;
        if (length > table || refs > (table - at) / refSize) throw unreadable();
        for (std::uint64_t i = 0; i < refs; ++i) {
            const std::uint64_t child = bigEndian(p + at + i * refSize, refSize);
            if (child >= count) throw unreadable();
            out.push_back(child);
        }
    };

    // Depth-first without recursion; each object is measured once: its height (the
    // containers nested in it, itself included) and how many values it expands to, since
    // libplist copies an object for every reference to it.
    const std::uint64_t maxValues = 4 * static_cast<std::uint64_t>(size) + 65536;
    enum : std::uint8_t { unseen, open, measured };
    std::vector<std::uint8_t> state(count, unseen);
    std::vector<std::uint16_t> height(count, 0);
    std::vector<std::uint64_t> values(count, 1);
    struct Frame {
        std::uint64_t object;
        std::vector<std::uint64_t> children;
        std::size_t next = 0;
        std::uint16_t tallest = 0;
        std::uint64_t values = 1;
    };
    std::vector<Frame> stack;
    auto enter = [&](std::uint64_t object) {
        Frame frame{object, {}};
        children(object, frame.children);
        state[object] = open;
        stack.push_back(std::move(frame));
        if (stack.size() > maxDepth) throw tooDeep();
    };
    enter(top);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.children.size()) {
            const bool container =
                !frame.children.empty() ||
                (p[bigEndian(p + table + frame.object * offsetSize, offsetSize)] >> 4) >= 0xA;
            const std::uint64_t object = frame.object;
            height[object] = static_cast<std::uint16_t>(frame.tallest + (container ? 1 : 0));
            values[object] = frame.values;
            state[object] = measured;
            stack.pop_back();
            if (height[object] > maxDepth) throw tooDeep();
            if (values[object] > maxValues) throw unreadable();
            if (!stack.empty()) {
                Frame& parent = stack.back();
                parent.tallest = std::max(parent.tallest, height[object]);
                parent.values += values[object];
            }
            continue;
        }
        const std::uint64_t child = frame.children[frame.next++];
        if (state[child] == open) throw unreadable(); // a circle
        if (state[child] == measured) {
            frame.tallest = std::max(frame.tallest, height[child]);
            frame.values += values[child];
            if (frame.values > maxValues) throw unreadable();
            continue;
        }
        enter(child);
    }
}

// Counts open <array> and <dict> elements, passing over comments, CDATA sections,
// processing instructions and declarations, where tags are only text.
void checkXmlNesting(std::string_view text) {
    std::size_t depth = 0;
    std::size_t i = 0;
    auto skipPast = [&](std::string_view end) {
        const std::size_t at = text.find(end, i);
        i = at == std::string_view::npos ? text.size() : at + end.size();
    };
    while ((i = text.find('<', i)) != std::string_view::npos) {
        const std::string_view rest = text.substr(i);
        if (rest.starts_with("<!--")) {
            skipPast("-->");
        } else if (rest.starts_with("<![CDATA[")) {
            skipPast("]]>");
        } else if (rest.starts_with("<?")) {
            skipPast("?>");
        } else if (rest.starts_with("<!")) {
            skipPast(">");
        } else {
            const bool closing = rest.starts_with("</");
            const std::string_view name = rest.substr(closing ? 2 : 1);
            std::size_t length = 0;
            if (name.starts_with("array")) length = 5;
            if (name.starts_with("dict")) length = 4;
            const char after = name.size() > length ? name[length] : '>';
            const bool container = length > 0 && (after == '>' || after == '/' || after == ' ' ||
                                                  after == '\t' || after == '\r' || after == '\n');
            ++i;
            const std::size_t close = text.find('>', i);
            const bool selfClosing = close != std::string_view::npos && text[close - 1] == '/';
            if (container && closing && depth > 0) --depth;
            if (container && !closing && !selfClosing && ++depth > maxDepth) throw tooDeep();
        }
    }
}

} // namespace

Node read(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max())
        throw unreadable();
    if (plist_is_binary(bytes.data(), static_cast<std::uint32_t>(bytes.size())))
        checkBinaryNesting(bytes);
    else
        checkXmlNesting(bytes);
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    const PlistPtr owner(root);
    if (!root) throw unreadable();
    return convert(root);
}

std::string writeXml(const Node& tree) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                      "<plist version=\"1.0\">\n";
    struct Frame {
        const Node* node;
        std::vector<std::size_t> order; // members to write, for dictionaries
        std::size_t next;
    };
    std::vector<Frame> stack;
    auto indent = [&](std::size_t depth) { out.append(depth, '\t'); };
    // Writes a scalar or empty container; opens any other container.
    auto open = [&](const Node& node, std::size_t depth) {
        indent(depth);
        switch (node.type()) {
        case Node::Type::boolean:
            out.append(node.boolValue() ? "<true/>\n" : "<false/>\n");
            return;
        case Node::Type::number:
            appendNumber(out, node.text());
            return;
        case Node::Type::string:
            appendElement(out, "string", node.text());
            return;
        case Node::Type::null:
            out.append("<string></string>\n");
            return;
        case Node::Type::array:
            if (node.items().empty()) {
                out.append("<array/>\n");
                return;
            }
            out.append("<array>\n");
            stack.push_back({&node, {}, 0});
            return;
        case Node::Type::object: {
            if (node.members().empty()) {
                out.append("<dict/>\n");
                return;
            }
            // Sorted by key; of a repeated key only the last occurrence stays.
            const Node::Object& members = node.members();
            std::vector<std::size_t> order(members.size());
            for (std::size_t i = 0; i < order.size(); ++i)
                order[i] = i;
            std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
                return members[a].first < members[b].first;
            });
            std::vector<std::size_t> kept;
            kept.reserve(order.size());
            for (std::size_t i = 0; i < order.size(); ++i)
                if (i + 1 == order.size() || members[order[i]].first != members[order[i + 1]].first)
                    kept.push_back(order[i]);
            out.append("<dict>\n");
            stack.push_back({&node, std::move(kept), 0});
            return;
        }
        }
    };
    open(tree, 0);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const std::size_t depth = stack.size();
        const bool object = frame.node->isObject();
        const std::size_t count = object ? frame.order.size() : frame.node->items().size();
        if (frame.next == count) {
            indent(depth - 1);
            out.append(object ? "</dict>\n" : "</array>\n");
            stack.pop_back();
            continue;
        }
        const std::size_t index = frame.next++;
        if (!object) {
            open(frame.node->items()[index], depth);
            continue;
        }
        const Node::Member& member = frame.node->members()[frame.order[index]];
        indent(depth);
        appendElement(out, "key", member.first);
        open(member.second, depth);
    }
    out.append("</plist>\n");
    return out;
}

std::string isoDate(double unixSeconds) {
    // Beyond about ±290 million years the count of days no longer fits; no calendar
    // date is meaningful there.
    if (!std::isfinite(unixSeconds) || std::fabs(unixSeconds) > 9.0e15)
        return realText(unixSeconds);
    const auto seconds = static_cast<std::int64_t>(std::floor(unixSeconds));
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's civil_from_days).
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    char buffer[64];
    const int length = std::snprintf(
        buffer, sizeof buffer, "%s%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", year < 0 ? "-" : "",
        static_cast<long long>(year < 0 ? -year : year), static_cast<long long>(month),
        static_cast<long long>(day), static_cast<long long>(rest / 3600),
        static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::string base64(std::string_view bytes) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        out.push_back(alphabet[group >> 18]);
        out.push_back(alphabet[group >> 12 & 63]);
        out.push_back(alphabet[group >> 6 & 63]);
        out.push_back(alphabet[group & 63]);
    }
    if (i + 1 == bytes.size()) {
        const std::uint32_t group = byte(i) << 16;
        out.push_back(alphabet[group >> 18]);
        out.push_back(alphabet[group >> 12 & 63]);
        out.append("==");
    } else if (i + 2 == bytes.size()) {
        const std::uint32_t group = byte(i) << 16 | byte(i + 1) << 8;
        out.push_back(alphabet[group >> 18]);
        out.push_back(alphabet[group >> 12 & 63]);
        out.push_back(alphabet[group >> 6 & 63]);
        out.push_back('=');
    }
    return out;
}

} // namespace lumatra::Plist
