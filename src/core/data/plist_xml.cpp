#include "data/plist_xml.h"

#include "data/number_text.h"
#include "data/plist_bridge.h"
#include "data/plist_parts.h"

#include <libxml/xmlreader.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace lumatra::Plist {

namespace {

struct ReaderFree {
    void operator()(xmlTextReaderPtr reader) const { xmlFreeTextReader(reader); }
};
using ReaderPtr = std::unique_ptr<xmlTextReader, ReaderFree>;

// The reader reports its errors through return values; nothing goes to the terminal.
void ignoreError(void*, xmlErrorPtr) {}
void ignoreMessage(void*, const char*, ...) {}

std::string_view nameOf(xmlTextReaderPtr reader) {
    const xmlChar* name = xmlTextReaderConstLocalName(reader);
    return name ? std::string_view(reinterpret_cast<const char*>(name)) : std::string_view();
}

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isXmlSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isXmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// Decimal or "0x" hexadecimal, within the signed or the unsigned 64-bit range.
Node integerNode(std::string_view text) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
        throw unreadable();
    if (!negative || magnitude == 0) return Node::number(std::to_string(magnitude));
    constexpr std::uint64_t minMagnitude =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1;
    if (magnitude > minMagnitude) throw unreadable();
    return Node::number("-" + std::to_string(magnitude));
}

Node realNode(std::string_view text) {
    text = trimmed(text);
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (lower == "nan") return Node::string(realText(std::nan("")));
    if (lower == "inf" || lower == "infinity" || lower == "+inf" || lower == "+infinity")
        return Node::string(realText(std::numeric_limits<double>::infinity()));
    if (lower == "-inf" || lower == "-infinity")
        return Node::string(realText(-std::numeric_limits<double>::infinity()));
    if (!numberText::isDecimal(text)) throw unreadable();
    const bool negative = text[0] == '-';
    if (text[0] == '+' || text[0] == '-') text.remove_prefix(1);
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        const std::size_t e = text.find_first_of("eE");
        value = e != std::string_view::npos && text[e + 1] == '-'
                    ? 0.0
                    : std::numeric_limits<double>::infinity();
    }
    if (negative) value = -value;
    if (!std::isfinite(value)) return Node::string(realText(value));
    return Node::number(realText(value));
}

// Days from 1970-01-01 to a proleptic Gregorian date (H. Hinnant's days_from_civil).
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

// "YYYY-MM-DDTHH:MM:SSZ", the year possibly longer or negative.
Node dateNode(std::string_view text) {
    text = trimmed(text);
    std::size_t i = 0;
    auto number = [&](std::size_t minDigits, std::size_t maxDigits) {
        std::int64_t value = 0;
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < maxDigits)
            value = value * 10 + (text[i++] - '0');
        if (i - start < minDigits) throw unreadable();
        return value;
    };
    auto expect = [&](char c) {
        if (i >= text.size() || text[i] != c) throw unreadable();
        ++i;
    };
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) ++i;
    const std::int64_t year = number(4, 9) * (negative ? -1 : 1);
    expect('-');
    const std::int64_t month = number(2, 2);
    expect('-');
    const std::int64_t day = number(2, 2);
    expect('T');
    const std::int64_t hour = number(2, 2);
    expect(':');
    const std::int64_t minute = number(2, 2);
    expect(':');
    const std::int64_t second = number(2, 2);
    expect('Z');
    if (i != text.size() || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
        minute > 59 || second > 60)
        throw unreadable();
    const std::int64_t days =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    return Node::string(
        isoDate(static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second)));
}

// Base64 with any white space between the groups, written back in the standard form.
Node dataNode(std::string_view text) {
    std::string bytes;
    std::uint32_t group = 0;
    int bits = 0;
    bool padded = false;
    for (const char c : text) {
        int value;
        if (c >= 'A' && c <= 'Z') {
            value = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            value = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            value = c - '0' + 52;
        } else if (c == '+') {
            value = 62;
        } else if (c == '/') {
            value = 63;
        } else if (c == '=') {
            padded = true;
            continue;
        } else if (isXmlSpace(c)) {
            continue;
        } else {
            throw unreadable();
        }
        if (padded) throw unreadable();
        group = (group << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<char>((group >> bits) & 0xFF));
        }
    }
    return Node::string(base64(bytes));
}

class XmlReader {
public:
    XmlReader(std::string_view bytes, const ItemHandler* onItem, std::stop_token stop,
              const MemberHandlers* members = nullptr)
        : m_onItem(onItem), m_members(members), m_stop(std::move(stop)) {
        if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) throw unreadable();
        // Encoding and input errors bypass the reader's own handler (the handlers are
        // per thread).
        xmlSetGenericErrorFunc(nullptr, ignoreMessage);
        xmlSetStructuredErrorFunc(nullptr, ignoreError);
        // No network, no external DTD, no entity substitution; large text nodes (big data
        // blobs) are allowed, since the nesting is bounded here.
        m_reader.reset(xmlReaderForMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                          nullptr, XML_PARSE_NONET | XML_PARSE_HUGE));
        if (!m_reader) throw unreadable();
        xmlTextReaderSetStructuredErrorHandler(m_reader.get(), ignoreError, nullptr);
    }

    Node document() {
        xmlTextReaderPtr reader = m_reader.get();
        int status;
        while ((status = next()) == 1) {
            switch (xmlTextReaderNodeType(reader)) {
            case XML_READER_TYPE_ELEMENT:
                element(nameOf(reader), xmlTextReaderIsEmptyElement(reader) == 1);
                break;
            case XML_READER_TYPE_END_ELEMENT:
                endElement();
                break;
            case XML_READER_TYPE_TEXT:
            case XML_READER_TYPE_CDATA:
                // Only white space may stand between the values.
                if (!trimmed(value()).empty()) throw unreadable();
                break;
            case XML_READER_TYPE_ENTITY_REFERENCE:
                throw unreadable();
            default:
                break;
            }
        }
        if (status < 0 || !m_done || !m_stack.empty()) throw unreadable();
        return std::move(m_result);
    }

private:
    struct Frame {
        bool dict;
        bool streaming; // an array whose elements go to a handler
        bool members;   // the top dictionary, whose members go to the handlers
        Node node;
        std::string key;
        bool haveKey = false;
    };

    int next() {
        if ((++m_steps & 0xFFF) == 0 && m_stop.stop_requested()) throw CancelledError();
        return xmlTextReaderRead(m_reader.get());
    }

    std::string_view value() const {
        const xmlChar* text = xmlTextReaderConstValue(m_reader.get());
        return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
    }

    // The text content of a scalar element, up to its end tag.
    std::string text(bool empty) {
        std::string out;
        if (empty) return out;
        for (;;) {
            if (next() != 1) throw unreadable();
            switch (xmlTextReaderNodeType(m_reader.get())) {
            case XML_READER_TYPE_TEXT:
            case XML_READER_TYPE_CDATA:
            case XML_READER_TYPE_WHITESPACE:
            case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
                out.append(value());
                break;
            case XML_READER_TYPE_END_ELEMENT:
                return out;
            case XML_READER_TYPE_ELEMENT:
            case XML_READER_TYPE_ENTITY_REFERENCE:
                throw unreadable();
            default:
                break;
            }
        }
    }

    void element(std::string_view name, bool empty) {
        if (!m_sawRoot) {
            m_sawRoot = true;
            if (name == "plist") {
                m_inPlist = true;
                return;
            }
        }
        if (m_done) throw unreadable(); // a second value
        if (name == "array" || name == "dict") {
            if (m_stack.size() >= maxDepth) throw tooDeep();
            const bool dict = name == "dict";
            Node node = dict ? Node::object() : Node::array();
            if (empty) {
                finish(std::move(node));
                return;
            }
            const bool members = dict && m_members && m_stack.empty();
            const bool streaming = !dict && ((m_onItem && m_stack.empty()) || inMemberValue());
            m_stack.push_back({dict, streaming, members, std::move(node), {}, false});
            return;
        }
        if (name == "key") {
            if (m_stack.empty() || !m_stack.back().dict || m_stack.back().haveKey)
                throw unreadable();
            std::string key = text(empty);
            if (m_stack.back().members) {
                if (m_anyKey && !(m_lastKey < key)) throw UnsortedKeys{};
                m_anyKey = true;
                m_lastKey = key;
                m_members->onKey(std::move(key));
            } else {
                m_stack.back().key = std::move(key);
            }
            m_stack.back().haveKey = true;
            return;
        }
        if (name == "true" || name == "false") {
            if (!trimmed(text(empty)).empty()) throw unreadable();
            finish(Node::boolean(name == "true"));
            return;
        }
        if (name == "string") return finish(Node::string(text(empty)));
        if (name == "integer") return finish(integerNode(text(empty)));
        if (name == "real") return finish(realNode(text(empty)));
        if (name == "date") return finish(dateNode(text(empty)));
        if (name == "data") return finish(dataNode(text(empty)));
        throw unreadable();
    }

    void endElement() {
        if (m_stack.empty()) {
            if (!m_inPlist) throw unreadable();
            return; // </plist>
        }
        Frame frame = std::move(m_stack.back());
        m_stack.pop_back();
        if (frame.haveKey) throw unreadable(); // a key without its value
        if (frame.members) m_streamed = true;
        if (frame.streaming && inMemberValue()) {
            m_stack.back().haveKey = false;
            m_members->onArrayEnd();
            return;
        }
        if (frame.dict && !frame.members) {
            // Code-point order is the byte order of UTF-8.
            Node::Object& members = frame.node.members();
            std::stable_sort(members.begin(), members.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        }
        finish(std::move(frame.node));
    }

    void finish(Node&& node) {
        if (m_stack.empty()) {
            if (m_done) throw unreadable();
            m_result = std::move(node);
            m_done = true;
            return;
        }
        Frame& frame = m_stack.back();
        if (frame.members) {
            if (!frame.haveKey) throw unreadable();
            frame.haveKey = false;
            m_members->onValue(std::move(node));
        } else if (frame.dict) {
            if (!frame.haveKey) throw unreadable();
            frame.node.members().emplace_back(std::move(frame.key), std::move(node));
            frame.key.clear();
            frame.haveKey = false;
        } else if (frame.streaming) {
            if (m_stack.size() == 2 && m_stack[0].members)
                m_members->onItem(std::move(node));
            else
                (*m_onItem)(std::move(node));
        } else {
            frame.node.items().push_back(std::move(node));
        }
    }

    // Whether the next value is that of a member of the top dictionary being handed out.
    bool inMemberValue() const {
        return m_stack.size() == 1 && m_stack[0].members && m_stack[0].haveKey;
    }

public:
    bool streamed() const { return m_streamed; }

private:
    ReaderPtr m_reader;
    const ItemHandler* m_onItem;
    const MemberHandlers* m_members;
    std::string m_lastKey;
    bool m_anyKey = false;
    bool m_streamed = false;
    std::stop_token m_stop;
    std::vector<Frame> m_stack;
    Node m_result;
    bool m_sawRoot = false;
    bool m_inPlist = false;
    bool m_done = false;
    std::uint64_t m_steps = 0;
};

} // namespace

Node readXml(std::string_view bytes, const ItemHandler* onItem, std::stop_token stop) {
    return XmlReader(bytes, onItem, std::move(stop)).document();
}

Node readXmlMembers(std::string_view bytes, const ItemHandler* onItem,
                    const MemberHandlers& members, bool& streamed, std::stop_token stop) {
    XmlReader reader(bytes, onItem, std::move(stop), &members);
    Node root = reader.document();
    streamed = reader.streamed();
    return root;
}

} // namespace lumatra::Plist
