#include "data/json.h"

#include "data/number_text.h"
#include "formats/convert_error.h"
#include "text/utf8.h"

#include <cstdint>
#include <cstring>
#include <iterator>

namespace lumatra::JSON {

namespace {

/// Containers may nest this deep; one more level is refused.
constexpr std::size_t maxDepth = 1024;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNumberByte(char c) {
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
}

// A string holds control characters only as escapes (\n, \u0000); raw, even a tab or
// a line break, they end the document as an error at their position.
constexpr const char* controlMessage = "управляющий символ в строке";

bool isControl(char c) {
    return static_cast<unsigned char>(c) < 0x20;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool hasZeroByte(std::uint64_t word) {
    return ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0;
}

// Whether some byte of `word` lies below 20 (a control character). Bytes from 80 up may
// be reported too; the caller then looks at each byte.
bool mayHaveControlByte(std::uint64_t word) {
    return ((word - 0x2020202020202020ull) & ~word & 0x8080808080808080ull) != 0;
}

bool endsPlainRun(char c) {
    return c == '"' || c == '\\' || isControl(c);
}

// Advances over string bytes up to the next quote, backslash or control character, eight
// at a time where it can; `ascii` turns false when a byte above 7F is passed.
const char* plainRun(const char* p, const char* end, bool& ascii) {
    std::uint64_t high = 0;
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if (hasZeroByte(word ^ 0x2222222222222222ull) ||
            hasZeroByte(word ^ 0x5C5C5C5C5C5C5C5Cull) || mayHaveControlByte(word))
            break;
        high |= word;
        p += 8;
    }
    while (p != end && !endsPlainRun(*p))
        high |= static_cast<unsigned char>(*p++);
    if (high & 0x8080808080808080ull) ascii = false;
    return p;
}

// Reads one document without recursion: open containers live on `m_open`, finished
// array items on `m_items` and object members on `m_members` until their container
// closes and takes them (with exactly the capacity it needs).
class Parser {
public:
    // With `onMember`, the values below the top are checked but not kept: the members of
    // a top-level object go to it as their key and the span of their value.
    Parser(std::string_view bytes, const ItemHandler* onItem, std::stop_token stop,
           const MemberHandler* onMember = nullptr)
        : m_begin(bytes.data()), m_end(bytes.data() + bytes.size()), m_p(m_begin), m_onItem(onItem),
          m_onMember(onMember), m_stop(std::move(stop)) {}

    Node document() {
        skip();
        Node root = value();
        skip();
        if (m_p != m_end) throw error("лишние символы");
        return root;
    }

private:
    struct Open {
        bool object;
        std::size_t start; // first index in m_items or m_members
    };

    ConvertError error(const char* message) const { return errorAt(m_p, message); }
    ConvertError errorAt(const char* at, const char* message) const {
        return ConvertError::failed("Ошибка в JSON (символ " + std::to_string(at - m_begin + 1) +
                                    "): " + message);
    }

    void skip() {
        while (m_p != m_end && isSpace(*m_p))
            ++m_p;
    }

    Node value() {
        for (;;) {
            // Read a value; an opened container continues the loop at its first element.
            if (m_p == m_end) throw error("файл оборвался");
            if ((++m_values & 0xFFF) == 0 && m_stop.stop_requested()) throw CancelledError();
            const char c = *m_p;
            if ((c == '[' || c == '{') && opened(c)) continue;
            Node done = c == '[' ? Node::array() : c == '{' ? Node::object() : scalar(c);
            // Hand finished values to their containers, closing those that end here.
            for (;;) {
                if (m_open.empty()) return done;
                const Open open = m_open.back();
                if (open.object) {
                    if (m_onMember && m_open.size() == 1)
                        (*m_onMember)(std::move(m_keys.back()),
                                      Span{m_valueStart, static_cast<std::size_t>(m_p - m_begin)});
                    else if (!m_onMember)
                        m_members.emplace_back(std::move(m_keys.back()), std::move(done));
                    m_keys.pop_back();
                } else if (m_onItem && m_open.size() == 1) {
                    (*m_onItem)(std::move(done));
                } else if (!m_onMember) {
                    m_items.push_back(std::move(done));
                }
                skip();
                if (m_p == m_end) throw error("файл оборвался");
                if (*m_p == ',') {
                    ++m_p;
                    skip();
                    if (open.object) key();
                    break;
                }
                if (open.object ? *m_p != '}' : *m_p != ']')
                    throw error(open.object ? "ожидалось «,» или «}»" : "ожидалось «,» или «]»");
                ++m_p;
                m_open.pop_back();
                if (open.object) {
                    Node::Object members(std::make_move_iterator(m_members.begin() + open.start),
                                         std::make_move_iterator(m_members.end()));
                    m_members.erase(m_members.begin() + open.start, m_members.end());
                    done = Node::object(std::move(members));
                } else {
                    Node::Array items(std::make_move_iterator(m_items.begin() + open.start),
                                      std::make_move_iterator(m_items.end()));
                    m_items.erase(m_items.begin() + open.start, m_items.end());
                    done = Node::array(std::move(items));
                }
            }
        }
    }

    // After "[" or "{" at the position: opens the container and answers true, or passes
    // an empty one and answers false.
    bool opened(char c) {
        if (m_open.size() >= maxDepth) throw error("слишком глубокая вложенность");
        ++m_p;
        skip();
        if (m_p != m_end && *m_p == (c == '[' ? ']' : '}')) {
            ++m_p;
            return false;
        }
        if (c == '[') {
            m_open.push_back({false, m_items.size()});
            skip();
            return true;
        }
        m_open.push_back({true, m_members.size()});
        skip();
        key();
        return true;
    }

    // An object member's key and colon; its value follows.
    void key() {
        if (m_p == m_end || *m_p != '"') throw error("ожидался ключ");
        std::string name = string();
        skip();
        if (m_p == m_end || *m_p != ':') throw error("ожидалось «:»");
        ++m_p;
        skip();
        if (m_open.size() == 1) m_valueStart = static_cast<std::size_t>(m_p - m_begin);
        m_keys.push_back(std::move(name));
    }

    Node scalar(char c) {
        switch (c) {
        case '"':
            return Node::string(string());
        case 't':
            return literal("true", Node::boolean(true));
        case 'f':
            return literal("false", Node::boolean(false));
        case 'n':
            return literal("null", Node());
        default:
            return number();
        }
    }

    Node literal(std::string_view word, Node node) {
        if (static_cast<std::size_t>(m_end - m_p) < word.size() ||
            std::memcmp(m_p, word.data(), word.size()) != 0)
            throw error(word == "true"    ? "ожидалось true"
                        : word == "false" ? "ожидалось false"
                                          : "ожидалось null");
        m_p += word.size();
        return node;
    }

    Node number() {
        const char* start = m_p;
        while (m_p != m_end && isNumberByte(*m_p))
            ++m_p;
        const std::string_view text(start, static_cast<std::size_t>(m_p - start));
        if (!numberText::isDecimal(text)) throw error("непонятное значение");
        return Node::number(std::string(text));
    }

    // The opening quote is at the position.
    std::string string() {
        ++m_p;
        const char* start = m_p;
        // Common case: no escapes, valid UTF-8.
        bool ascii = true;
        m_p = plainRun(m_p, m_end, ascii);
        if (m_p == m_end) throw error("строка не закрыта");
        if (isControl(*m_p)) throw error(controlMessage);
        if (*m_p == '"') {
            const std::string_view raw(start, static_cast<std::size_t>(m_p - start));
            ++m_p;
            if (ascii || utf8::isValid(raw)) return std::string(raw);
            std::string text;
            utf8::appendRepaired(text, raw);
            return text;
        }
        std::string buffer(start, m_p);
        while (m_p != m_end) {
            if (isControl(*m_p)) throw error(controlMessage);
            const char c = *m_p++;
            if (c == '"') {
                if (utf8::isValid(buffer)) return buffer;
                std::string text;
                utf8::appendRepaired(text, buffer);
                return text;
            }
            if (c != '\\') {
                buffer.push_back(c);
                continue;
            }
            if (m_p == m_end) break;
            if (isControl(*m_p)) throw error(controlMessage);
            const char letter = *m_p++;
            switch (letter) {
            case 'b':
                buffer.push_back('\b');
                break;
            case 'f':
                buffer.push_back('\f');
                break;
            case 'n':
                buffer.push_back('\n');
                break;
            case 'r':
                buffer.push_back('\r');
                break;
            case 't':
                buffer.push_back('\t');
                break;
            case 'u':
                unicodeEscape(buffer);
                break;
            default:
                buffer.push_back(letter);
                break;
            }
        }
        throw error("строка не закрыта");
    }

    // After "\u": appends the escaped character. A high surrogate pairs with a directly
    // following "\u" escape; when that one is no low surrogate, the high one becomes "?"
    // and the second escape is read as if it stood alone.
    void unicodeEscape(std::string& buffer) {
        std::uint32_t code = hex4();
        while (code >= 0xD800 && code <= 0xDBFF && m_end - m_p >= 2 && m_p[0] == '\\' &&
               m_p[1] == 'u') {
            m_p += 2;
            const std::uint32_t low = hex4();
            if (low >= 0xDC00 && low <= 0xDFFF) {
                utf8::appendCodePoint(buffer, 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00));
                return;
            }
            buffer.push_back('?');
            code = low;
        }
        if (code >= 0xD800 && code <= 0xDFFF) {
            buffer.push_back('?');
            return;
        }
        utf8::appendCodePoint(buffer, code);
    }

    // Four hexadecimal digits; like a general integer reader it also takes a leading "+",
    // or a leading "-" before digits that are all zero.
    std::uint32_t hex4() {
        if (m_end - m_p < 4) throw error("плохой \\u");
        std::size_t i = 0;
        bool negative = false;
        if (m_p[0] == '+' || m_p[0] == '-') {
            negative = m_p[0] == '-';
            i = 1;
        }
        std::uint32_t code = 0;
        for (; i < 4; ++i) {
            const int digit = hexDigit(m_p[i]);
            if (digit < 0) throw error("плохой \\u");
            code = code * 16 + static_cast<std::uint32_t>(digit);
        }
        if (negative && code != 0) throw error("плохой \\u");
        m_p += 4;
        return code;
    }

    const char* m_begin;
    const char* m_end;
    const char* m_p;
    const ItemHandler* m_onItem;
    const MemberHandler* m_onMember;
    std::size_t m_valueStart = 0; // of the top-level member being read
    std::stop_token m_stop;
    std::uint32_t m_values = 0;
    std::vector<Open> m_open;
    std::vector<Node> m_items;
    std::vector<Node::Member> m_members;
    std::vector<std::string> m_keys; // of the members whose values are being read
};

bool needsEscape(unsigned char c) {
    return c < 0x20 || c == '"' || c == '\\';
}

} // namespace

void appendQuoted(std::string& out, std::string_view text) {
    // Strings that did not come from our readers may hold ill-formed UTF-8.
    if (utf8::isValid(text)) {
        appendQuotedUtf8(out, text);
        return;
    }
    std::string repaired;
    utf8::appendRepaired(repaired, text);
    appendQuotedUtf8(out, repaired);
}

void appendQuotedUtf8(std::string& out, std::string_view text) {
    out.push_back('"');
    const char* p = text.data();
    const char* end = p + text.size();
    while (p != end) {
        const char* run = p;
        while (p != end && !needsEscape(static_cast<unsigned char>(*p)))
            ++p;
        out.append(run, p);
        if (p == end) break;
        const auto c = static_cast<unsigned char>(*p++);
        switch (c) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\t':
            out.append("\\t");
            break;
        default: {
            static constexpr char hex[] = "0123456789abcdef";
            const char escape[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]};
            out.append(escape, sizeof escape);
            break;
        }
        }
    }
    out.push_back('"');
}

namespace {

class Writer {
public:
    Writer(std::string& out, int indent, bool pretty, Sink* sink = nullptr)
        : m_out(out), m_base(indent < 0 ? 0 : static_cast<std::size_t>(indent)), m_pretty(pretty),
          m_sink(sink) {}

    void write(const Node& root) {
        if (open(root)) return;
        // Without recursion: each open container remembers its next child.
        while (!m_stack.empty()) {
            Frame& frame = m_stack.back();
            const std::size_t level = m_base + m_stack.size() - 1;
            const bool object = frame.node->isObject();
            const std::size_t size =
                object ? frame.node->members().size() : frame.node->items().size();
            if (frame.next == size) {
                if (m_pretty) {
                    m_out.push_back('\n');
                    indent(level);
                }
                m_out.push_back(object ? '}' : ']');
                m_stack.pop_back();
                continue;
            }
            if (frame.next > 0) m_out.push_back(',');
            if (m_pretty) {
                m_out.push_back('\n');
                indent(level + 1);
            }
            const Node* child;
            if (object) {
                const Node::Member& member = frame.node->members()[frame.next];
                appendQuoted(m_out, member.first);
                m_out.append(m_pretty ? ": " : ":");
                child = &member.second;
            } else {
                child = &frame.node->items()[frame.next];
            }
            ++frame.next;
            open(*child);
        }
    }

private:
    struct Frame {
        const Node* node;
        std::size_t next;
    };

    void indent(std::size_t level) {
        for (std::size_t i = 0; i < level; ++i)
            m_out.append("  ", 2);
    }

    // Writes a scalar or an empty container whole; opens any other container and
    // answers false.
    bool open(const Node& node) {
        if (m_sink) m_sink->poll();
        switch (node.type()) {
        case Node::Type::boolean:
            m_out.append(node.boolValue() ? "true" : "false");
            return true;
        case Node::Type::number:
            m_out.append(node.text());
            return true;
        case Node::Type::string:
            appendQuoted(m_out, node.text());
            return true;
        case Node::Type::null:
            m_out.append("null");
            return true;
        case Node::Type::array:
            if (node.items().empty()) {
                m_out.append("[]");
                return true;
            }
            m_out.push_back('[');
            break;
        case Node::Type::object:
            if (node.members().empty()) {
                m_out.append("{}");
                return true;
            }
            m_out.push_back('{');
            break;
        }
        m_stack.push_back({&node, 0});
        return false;
    }

    std::string& m_out;
    std::size_t m_base;
    bool m_pretty;
    Sink* m_sink;
    std::vector<Frame> m_stack;
};

} // namespace

Node parse(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    return Parser(bytes, nullptr, {}).document();
}

Node parseItems(std::string_view bytes, const ItemHandler& onItem, std::stop_token stop) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    return Parser(bytes, &onItem, std::move(stop)).document();
}

Node parseMembers(std::string_view bytes, const MemberHandler& onMember, std::stop_token stop) {
    std::size_t offset = 0;
    if (bytes.starts_with("\xEF\xBB\xBF")) offset = 3;
    const MemberHandler shifted = [&](std::string&& key, Span span) {
        onMember(std::move(key), {span.begin + offset, span.end + offset});
    };
    return Parser(bytes.substr(offset), nullptr, std::move(stop), &shifted).document();
}

void writeTo(Sink& sink, const Node& node, int indent) {
    Writer(sink.text(), indent, true, &sink).write(node);
}

std::string write(const Node& node, int indent, bool pretty) {
    std::string out;
    appendTo(out, node, indent, pretty);
    return out;
}

void appendTo(std::string& out, const Node& node, int indent, bool pretty) {
    Writer(out, indent, pretty).write(node);
}

std::string quote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    appendQuoted(out, text);
    return out;
}

} // namespace lumatra::JSON
