#include "document/markdown_inlines.h"

#include "document/markdown.h"
#include "document/markdown_inline_parser.h"
#include "document/markdown_links.h"
#include "document/markdown_text.h"

#include <array>

namespace lumatra::Markdown {
namespace {

constexpr std::array<bool, 256> specialCharacters() {
    std::array<bool, 256> table{};
    for (const char c : std::string_view("\n\\`*_~[]!<&"))
        table[static_cast<unsigned char>(c)] = true;
    return table;
}
constexpr auto special = specialCharacters();

} // namespace

int InlineParser::addNode(NodeKind kind, std::size_t start, std::size_t length, bool owned) {
    Node node;
    node.kind = kind;
    node.owned = owned;
    node.start = static_cast<std::uint32_t>(start);
    node.length = static_cast<std::uint32_t>(length);
    node.previous = m_tail;
    const auto index = static_cast<int>(m_nodes.size());
    m_nodes.push_back(node);
    if (m_tail >= 0)
        m_nodes[static_cast<std::size_t>(m_tail)].next = index;
    else
        m_head = index;
    m_tail = index;
    return index;
}

void InlineParser::unlinkNode(int index) {
    Node& node = m_nodes[static_cast<std::size_t>(index)];
    if (node.previous >= 0)
        m_nodes[static_cast<std::size_t>(node.previous)].next = node.next;
    else
        m_head = node.next;
    if (node.next >= 0)
        m_nodes[static_cast<std::size_t>(node.next)].previous = node.previous;
    else
        m_tail = node.previous;
    node.previous = node.next = -1;
}

void InlineParser::insertAfter(int anchor, int index) {
    unlinkNode(index);
    Node& a = m_nodes[static_cast<std::size_t>(anchor)];
    Node& node = m_nodes[static_cast<std::size_t>(index)];
    node.previous = anchor;
    node.next = a.next;
    if (a.next >= 0)
        m_nodes[static_cast<std::size_t>(a.next)].previous = index;
    else
        m_tail = index;
    a.next = index;
}

void InlineParser::insertBefore(int anchor, int index) {
    unlinkNode(index);
    Node& a = m_nodes[static_cast<std::size_t>(anchor)];
    Node& node = m_nodes[static_cast<std::size_t>(index)];
    node.next = anchor;
    node.previous = a.previous;
    if (a.previous >= 0)
        m_nodes[static_cast<std::size_t>(a.previous)].next = index;
    else
        m_head = index;
    a.previous = index;
}

std::string_view InlineParser::textOf(const Node& node) const {
    return (node.owned ? std::string_view(m_arena) : m_subject).substr(node.start, node.length);
}

std::pair<std::uint32_t, std::uint32_t> InlineParser::own(std::string_view text) {
    const auto start = static_cast<std::uint32_t>(m_arena.size());
    m_arena.append(text);
    return {start, static_cast<std::uint32_t>(text.size())};
}

std::pair<std::uint32_t, std::uint32_t> InlineParser::ownAddress(std::string_view raw) {
    const auto start = static_cast<std::uint32_t>(m_arena.size());
    appendUnescaped(m_arena, raw);
    if (isScriptAddress(std::string_view(m_arena).substr(start))) m_arena.resize(start);
    return {start, static_cast<std::uint32_t>(m_arena.size() - start)};
}

void InlineParser::skipLineStartSpaces() {
    while (m_position < m_subject.size() && m_subject[m_position] == ' ')
        ++m_position;
}

void InlineParser::handleNewline() {
    bool hard = false;
    if (m_tail >= 0) {
        Node& last = m_nodes[static_cast<std::size_t>(m_tail)];
        if (last.kind == NodeKind::text && !last.owned) {
            std::uint32_t spaces = 0;
            while (spaces < last.length && m_subject[last.start + last.length - 1 - spaces] == ' ')
                ++spaces;
            hard = spaces >= 2;
            last.length -= spaces;
        }
    }
    addNode(hard ? NodeKind::hardBreak : NodeKind::softBreak, 0, 0);
    ++m_position;
    skipLineStartSpaces();
}

void InlineParser::handleBackslash() {
    const std::size_t next = m_position + 1;
    if (next < m_subject.size() && m_subject[next] == '\n') {
        addNode(NodeKind::hardBreak, 0, 0);
        m_position = next + 1;
        skipLineStartSpaces();
    } else if (next < m_subject.size() && isAsciiPunctuation(m_subject[next])) {
        addNode(NodeKind::text, next, 1);
        m_position = next + 1;
    } else {
        addNode(NodeKind::text, m_position, 1);
        ++m_position;
    }
}

void InlineParser::handleBackticks() {
    const std::size_t start = m_position;
    std::size_t end = start;
    while (end < m_subject.size() && m_subject[end] == '`')
        ++end;
    const std::size_t length = end - start;
    if (!m_ticksScanned) {
        m_ticksScanned = true;
        for (std::size_t at = 0; at < m_subject.size();) {
            if (m_subject[at] != '`') {
                ++at;
                continue;
            }
            std::size_t runEnd = at;
            while (runEnd < m_subject.size() && m_subject[runEnd] == '`')
                ++runEnd;
            m_ticks[runEnd - at].push_back(at);
            at = runEnd;
        }
    }
    std::size_t closer = std::string_view::npos;
    const auto runs = m_ticks.find(length);
    if (runs != m_ticks.end()) {
        std::size_t& cursor = m_tickCursor[length];
        while (cursor < runs->second.size() && runs->second[cursor] < end)
            ++cursor;
        if (cursor < runs->second.size()) closer = runs->second[cursor];
    }
    if (closer == std::string_view::npos) {
        addNode(NodeKind::text, start, length);
        m_position = end;
        return;
    }
    std::string content(m_subject.substr(end, closer - end));
    for (char& c : content)
        if (c == '\n') c = ' ';
    if (content.size() >= 2 && content.front() == ' ' && content.back() == ' ' &&
        content.find_first_not_of(' ') != std::string::npos)
        content = content.substr(1, content.size() - 2);
    const auto [ownedStart, ownedLength] = own(content);
    addNode(NodeKind::code, ownedStart, ownedLength, true);
    m_position = closer + length;
}

bool InlineParser::handleRawHtml() {
    const std::size_t length = rawHtmlLength(m_subject.substr(m_position), m_htmlScan);
    if (length == 0) return false;
    const auto start = static_cast<std::uint32_t>(m_arena.size());
    appendSafeHtml(m_arena, m_subject.substr(m_position, length));
    addNode(NodeKind::html, start, m_arena.size() - start, true);
    m_position += length;
    return true;
}

bool InlineParser::handleAutolink() {
    // Neither form holds "<", white space or control characters: the search for ">"
    // stops at the first of them.
    const std::string_view rest = m_subject.substr(m_position + 1);
    std::size_t close = 0;
    while (close < rest.size() && rest[close] != '>' && rest[close] != '<' &&
           static_cast<unsigned char>(rest[close]) > ' ' && rest[close] != 0x7F)
        ++close;
    if (close >= rest.size() || rest[close] != '>') return false;
    const std::string_view inside = rest.substr(0, close);
    bool uri = false;
    const std::size_t colon = inside.find(':');
    if (colon != std::string_view::npos && colon >= 2 && colon <= 32) {
        const auto isLetter = [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        };
        uri = isLetter(inside[0]);
        for (std::size_t i = 1; i < colon && uri; ++i) {
            const char c = inside[i];
            uri = isLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '.' || c == '-';
        }
        for (std::size_t i = colon + 1; i < inside.size() && uri; ++i) {
            const auto c = static_cast<unsigned char>(inside[i]);
            uri = c > ' ' && c != '<' && c != 0x7F;
        }
    }
    bool email = false;
    if (!uri) {
        const std::size_t at = inside.find('@');
        email = at != std::string_view::npos && at > 0 && at + 1 < inside.size();
        for (std::size_t i = 0; i < at && email; ++i) {
            const char c = inside[i];
            email = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    std::string_view(".!#$%&'*+/=?^_`{|}~-").find(c) != std::string_view::npos;
        }
        if (email) {
            // Domain labels: letters, digits and inner hyphens, 1 to 63 characters.
            std::size_t labelLength = 0;
            for (std::size_t i = at + 1; i <= inside.size() && email; ++i) {
                const char c = i < inside.size() ? inside[i] : '.';
                if (c == '.') {
                    email = labelLength > 0 && labelLength <= 63 && inside[i - 1] != '-';
                    labelLength = 0;
                } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-') {
                    email = !(labelLength == 0 && c == '-');
                    ++labelLength;
                } else {
                    email = false;
                }
            }
        }
    }
    if (!uri && !email) return false;
    const auto address = static_cast<std::uint32_t>(m_arena.size());
    if (email) m_arena += "mailto:";
    m_arena.append(inside);
    std::uint32_t addressLength = static_cast<std::uint32_t>(m_arena.size()) - address;
    if (isScriptAddress(std::string_view(m_arena).substr(address))) addressLength = 0;
    const int open = addNode(NodeKind::linkOpen, address, addressLength, true);
    m_nodes[static_cast<std::size_t>(open)].titleStart = address;
    addNode(NodeKind::text, m_position + 1, inside.size());
    addNode(NodeKind::linkClose, 0, 0);
    m_position += close + 2;
    return true;
}

void InlineParser::parse() {
    m_nodes.reserve(m_subject.size() / 4 + 4);
    while (m_position < m_subject.size()) {
        const char c = m_subject[m_position];
        if (!special[static_cast<unsigned char>(c)]) {
            std::size_t end = m_position + 1;
            while (end < m_subject.size() && !special[static_cast<unsigned char>(m_subject[end])])
                ++end;
            addNode(NodeKind::text, m_position, end - m_position);
            m_position = end;
            continue;
        }
        switch (c) {
        case '\n':
            handleNewline();
            break;
        case '\\':
            handleBackslash();
            break;
        case '`':
            handleBackticks();
            break;
        case '*':
        case '_':
        case '~':
            handleDelimiterRun();
            break;
        case '[':
        case '!': {
            const bool image = c == '!';
            if (image && (m_position + 1 >= m_subject.size() || m_subject[m_position + 1] != '[')) {
                addNode(NodeKind::text, m_position, 1);
                ++m_position;
                break;
            }
            const std::size_t length = image ? 2 : 1;
            if (!m_brackets.empty()) m_brackets.back().bracketAfter = true;
            Bracket bracket;
            bracket.node = addNode(NodeKind::text, m_position, length);
            bracket.image = image;
            bracket.delimiterBelow = m_lastDelimiter;
            bracket.after = m_position + length;
            bracket.linksBefore = m_links;
            m_brackets.push_back(bracket);
            m_position += length;
            break;
        }
        case ']':
            handleCloseBracket();
            break;
        case '<':
            if (!handleAutolink() && !handleRawHtml()) {
                addNode(NodeKind::text, m_position, 1);
                ++m_position;
            }
            break;
        case '&': {
            const auto start = static_cast<std::uint32_t>(m_arena.size());
            const std::size_t length = decodeEntity(m_subject.substr(m_position), m_arena);
            if (length > 0) {
                addNode(NodeKind::text, start, m_arena.size() - start, true);
                m_position += length;
            } else {
                addNode(NodeKind::text, m_position, 1);
                ++m_position;
            }
            break;
        }
        default:
            addNode(NodeKind::text, m_position, 1);
            ++m_position;
            break;
        }
    }
    processEmphasis(-1);
}

void InlineParser::render(std::string& out) const {
    // Inside an image only the plain text of its description is written, as its alt.
    int altDepth = 0;
    for (int index = m_head; index >= 0; index = m_nodes[static_cast<std::size_t>(index)].next) {
        const Node& node = m_nodes[static_cast<std::size_t>(index)];
        const bool tags = altDepth == 0;
        switch (node.kind) {
        case NodeKind::text:
            appendEscaped(out, textOf(node));
            break;
        case NodeKind::code:
            if (tags) out += "<code>";
            appendEscaped(out, textOf(node));
            if (tags) out += "</code>";
            break;
        case NodeKind::html:
            if (tags) out += textOf(node);
            break;
        case NodeKind::softBreak:
            out += '\n';
            break;
        case NodeKind::hardBreak:
            out += tags ? "<br>\n" : "\n";
            break;
        case NodeKind::linkOpen:
            if (!tags) break;
            out += "<a href=\"";
            appendEscaped(out, textOf(node));
            out += '"';
            if (node.titleLength > 0) {
                out += " title=\"";
                appendEscaped(out,
                              std::string_view(m_arena).substr(node.titleStart, node.titleLength));
                out += '"';
            }
            out += '>';
            break;
        case NodeKind::linkClose:
            if (tags) out += "</a>";
            break;
        case NodeKind::imageOpen:
            if (tags) {
                out += "<img src=\"";
                appendEscaped(out, textOf(node));
                out += "\" alt=\"";
            }
            ++altDepth;
            break;
        case NodeKind::imageClose: {
            --altDepth;
            if (altDepth > 0) break;
            out += '"';
            const Node& open = m_nodes[static_cast<std::size_t>(node.partner)];
            if (open.titleLength > 0) {
                out += " title=\"";
                appendEscaped(out,
                              std::string_view(m_arena).substr(open.titleStart, open.titleLength));
                out += '"';
            }
            out += '>';
            break;
        }
        case NodeKind::emphasisOpen:
            if (tags) out += "<em>";
            break;
        case NodeKind::emphasisClose:
            if (tags) out += "</em>";
            break;
        case NodeKind::strongOpen:
            if (tags) out += "<strong>";
            break;
        case NodeKind::strongClose:
            if (tags) out += "</strong>";
            break;
        case NodeKind::strikeOpen:
            if (tags) out += "<s>";
            break;
        case NodeKind::strikeClose:
            if (tags) out += "</s>";
            break;
        }
    }
}

void appendInlineHtml(std::string& out, std::string_view text, const References& references) {
    while (!text.empty() && isAsciiWhitespace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isAsciiWhitespace(text.back()))
        text.remove_suffix(1);
    InlineParser parser(text, references);
    parser.parse();
    parser.render(out);
}

} // namespace lumatra::Markdown
