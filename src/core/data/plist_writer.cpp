#include "data/plist_writer.h"

#include "data/number_text.h"
#include "data/plist_parts.h"
#include "formats/convert_error.h"
#include "text/utf8.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

namespace lumatra::Plist {

namespace {

[[noreturn]] void refuseCharacter(unsigned codePoint) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", codePoint);
    throw ConvertError::failed(std::string("Символ ") + name +
                               " нельзя записать в XML-список свойств");
}

bool isPlain(unsigned char c) {
    return c >= 0x20 && c != '&' && c != '<' && c != '>' && c != 0xEF;
}

void appendEscapedUtf8(std::string& out, std::string_view text) {
    const char* p = text.data();
    const char* end = p + text.size();
    while (p != end) {
        const char* run = p;
        while (p != end && isPlain(static_cast<unsigned char>(*p)))
            ++p;
        out.append(run, p);
        if (p == end) return;
        const auto c = static_cast<unsigned char>(*p++);
        switch (c) {
        case '&':
            out.append("&amp;");
            continue;
        case '<':
            out.append("&lt;");
            continue;
        case '>':
            out.append("&gt;");
            continue;
        case '\t':
        case '\n':
            out.push_back(static_cast<char>(c));
            continue;
        case '\r':
            // Raw, a reader would turn it into a line feed.
            out.append("&#13;");
            continue;
        case 0xEF:
            // U+FFFE and U+FFFF (EF BF BE, EF BF BF) are no XML characters.
            if (end - p >= 2 && static_cast<unsigned char>(p[0]) == 0xBF &&
                (static_cast<unsigned char>(p[1]) & 0xFE) == 0xBE)
                refuseCharacter(0xFFFE + (static_cast<unsigned char>(p[1]) & 1));
            out.push_back(static_cast<char>(c));
            continue;
        default:
            refuseCharacter(c);
        }
    }
}

void appendEscaped(std::string& out, std::string_view text) {
    if (utf8::isValid(text)) {
        appendEscapedUtf8(out, text);
        return;
    }
    std::string repaired;
    utf8::appendRepaired(repaired, text);
    appendEscapedUtf8(out, repaired);
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
            const std::size_t e = unsigned_.find_first_of("eE");
            const bool tiny = e != std::string_view::npos && unsigned_[e + 1] == '-';
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

// The members of an object to write: sorted by key, of a repeated key only the last.
std::vector<std::size_t> memberOrder(const Node::Object& members) {
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
    return kept;
}

} // namespace

void PlistWriter::begin() {
    m_sink.text().append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                         "<plist version=\"1.0\">\n");
}

void PlistWriter::item(const Node& node) {
    if (m_items++ == 0) {
        m_sink.text().append(m_arrayDepth, '\t');
        m_sink.text().append("<array>\n");
    }
    write(node, m_arrayDepth + 1);
}

void PlistWriter::endArray() {
    m_sink.text().append(m_arrayDepth, '\t');
    m_sink.text().append(m_items == 0 ? "<array/>\n" : "</array>\n");
}

void PlistWriter::beginDict(bool empty) {
    m_emptyDict = empty;
    m_sink.text().append(empty ? "<dict/>\n" : "<dict>\n");
}

void PlistWriter::key(std::string_view text) {
    m_sink.text().push_back('\t');
    appendElement(m_sink.text(), "key", text);
}

void PlistWriter::endDict() {
    if (!m_emptyDict) m_sink.text().append("</dict>\n");
}

void PlistWriter::end() {
    m_sink.text().append("</plist>\n");
}

void PlistWriter::write(const Node& root, std::size_t baseDepth) {
    std::string& out = m_sink.text();
    struct Frame {
        const Node* node;
        std::vector<std::size_t> order; // members to write, for dictionaries
        std::size_t next;
    };
    std::vector<Frame> stack;
    auto indent = [&](std::size_t depth) { out.append(depth, '\t'); };
    // Writes a scalar or empty container; opens any other container.
    auto open = [&](const Node& node, std::size_t depth) {
        m_sink.poll();
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
        case Node::Type::object:
            if (node.members().empty()) {
                out.append("<dict/>\n");
                return;
            }
            out.append("<dict>\n");
            stack.push_back({&node, memberOrder(node.members()), 0});
            return;
        }
    };
    open(root, baseDepth);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const std::size_t depth = baseDepth + stack.size();
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
}

} // namespace lumatra::Plist
