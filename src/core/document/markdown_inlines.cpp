#include "document/markdown_inlines.h"

#include "document/markdown.h"
#include "document/markdown_html.h"
#include "document/markdown_links.h"
#include "document/markdown_text.h"

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace lumatra::Markdown {
namespace {

enum class NodeKind : std::uint8_t {
    text,
    code,
    softBreak,
    hardBreak,
    linkOpen,
    linkClose,
    imageOpen,
    imageClose,
    emphasisOpen,
    emphasisClose,
    strongOpen,
    strongClose,
    strikeOpen,
    strikeClose,
    html, // already made safe
};

// One piece of the inline content, in a doubly linked list. Text lies in the subject or,
// when `owned`, in the parser's arena; links and images keep their address there.
struct Node {
    NodeKind kind = NodeKind::text;
    bool owned = false;
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    std::uint32_t titleStart = 0;
    std::uint32_t titleLength = 0;
    int previous = -1;
    int next = -1;
    int partner = -1; // an image's closing node: its opening node
};

struct Delimiter {
    int node = -1;
    char mark = 0;
    int count = 0;
    int original = 0;
    bool canOpen = false;
    bool canClose = false;
    int previous = -1;
    int next = -1;
};

struct Bracket {
    int node = -1;
    bool image = false;
    bool bracketAfter = false;
    int delimiterBelow = -1;
    std::size_t after = 0;
    std::size_t linksBefore = 0;
};

constexpr std::array<bool, 256> specialCharacters() {
    std::array<bool, 256> table{};
    for (const char c : std::string_view("\n\\`*_~[]!<&"))
        table[static_cast<unsigned char>(c)] = true;
    return table;
}
constexpr auto special = specialCharacters();

class InlineParser {
public:
    InlineParser(std::string_view subject, const References& references)
        : m_subject(subject), m_references(references) {}
    void parse();
    void render(std::string& out) const;

private:
    int addNode(NodeKind kind, std::size_t start, std::size_t length, bool owned = false);
    void unlinkNode(int index);
    void insertAfter(int anchor, int index);
    void insertBefore(int anchor, int index);
    std::string_view textOf(const Node& node) const;
    std::pair<std::uint32_t, std::uint32_t> own(std::string_view text);
    std::pair<std::uint32_t, std::uint32_t> ownAddress(std::string_view raw);

    void handleNewline();
    void handleBackslash();
    void handleBackticks();
    void handleDelimiterRun();
    void handleCloseBracket();
    bool handleAutolink();
    bool handleRawHtml();
    void skipLineStartSpaces();

    void removeDelimiter(int index);
    void processEmphasis(int bottom);

    std::string_view m_subject;
    const References& m_references;
    std::size_t m_position = 0;
    std::string m_arena;
    std::vector<Node> m_nodes;
    int m_head = -1;
    int m_tail = -1;
    std::vector<Delimiter> m_delimiters;
    int m_lastDelimiter = -1;
    std::vector<Bracket> m_brackets;
    std::size_t m_links = 0;
    HtmlScan m_htmlScan;
    // Backtick runs by length, each a list of start positions, and how far each list has
    // been passed: every closing run is looked for once.
    bool m_ticksScanned = false;
    std::unordered_map<std::size_t, std::vector<std::size_t>> m_ticks;
    std::unordered_map<std::size_t, std::size_t> m_tickCursor;
};

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

void InlineParser::handleDelimiterRun() {
    const char mark = m_subject[m_position];
    const std::size_t start = m_position;
    std::size_t end = start;
    while (end < m_subject.size() && m_subject[end] == mark)
        ++end;
    const char32_t before = decodeBefore(m_subject, start);
    std::size_t length = 0;
    const char32_t after = end < m_subject.size() ? decodeAt(m_subject, end, length) : '\n';
    const bool afterSpace = isUnicodeWhitespace(after);
    const bool beforeSpace = isUnicodeWhitespace(before);
    const bool afterPunctuation = isUnicodePunctuation(after);
    const bool beforePunctuation = isUnicodePunctuation(before);
    const bool leftFlanking =
        !afterSpace && (!afterPunctuation || beforeSpace || beforePunctuation);
    const bool rightFlanking =
        !beforeSpace && (!beforePunctuation || afterSpace || afterPunctuation);
    bool canOpen = leftFlanking;
    bool canClose = rightFlanking;
    if (mark == '_') {
        canOpen = leftFlanking && (!rightFlanking || beforePunctuation);
        canClose = rightFlanking && (!leftFlanking || afterPunctuation);
    }
    const int count = static_cast<int>(end - start);
    const int node = addNode(NodeKind::text, start, end - start);
    m_position = end;
    if (mark == '~' && count != 2) return;
    if (!canOpen && !canClose) return;
    Delimiter delimiter;
    delimiter.node = node;
    delimiter.mark = mark;
    delimiter.count = delimiter.original = count;
    delimiter.canOpen = canOpen;
    delimiter.canClose = canClose;
    delimiter.previous = m_lastDelimiter;
    const auto index = static_cast<int>(m_delimiters.size());
    m_delimiters.push_back(delimiter);
    if (m_lastDelimiter >= 0) m_delimiters[static_cast<std::size_t>(m_lastDelimiter)].next = index;
    m_lastDelimiter = index;
}

void InlineParser::removeDelimiter(int index) {
    Delimiter& d = m_delimiters[static_cast<std::size_t>(index)];
    if (d.previous >= 0) m_delimiters[static_cast<std::size_t>(d.previous)].next = d.next;
    if (d.next >= 0)
        m_delimiters[static_cast<std::size_t>(d.next)].previous = d.previous;
    else
        m_lastDelimiter = d.previous;
    d.previous = d.next = -1;
}

void InlineParser::processEmphasis(int bottom) {
    // Where the search for an opener stopped before, by mark, by whether the closer can
    // open, and by its length modulo 3: no opener below there can match such a closer.
    std::array<int, 18> openersBottom{};
    openersBottom.fill(bottom);
    const auto at = [this](int index) -> Delimiter& {
        return m_delimiters[static_cast<std::size_t>(index)];
    };
    int closer = m_lastDelimiter;
    while (closer >= 0 && at(closer).previous != bottom)
        closer = at(closer).previous;
    if (closer >= 0 && closer == bottom) closer = -1;
    while (closer >= 0) {
        Delimiter& c = at(closer);
        if (!c.canClose) {
            closer = c.next;
            continue;
        }
        const int markIndex = c.mark == '*' ? 0 : c.mark == '_' ? 1 : 2;
        const std::size_t slot = static_cast<std::size_t>(markIndex * 6 + (c.canOpen ? 3 : 0) +
                                                          (markIndex == 2 ? 0 : c.original % 3));
        int opener = c.previous;
        bool found = false;
        while (opener >= 0 && opener != bottom && opener != openersBottom[slot]) {
            const Delimiter& o = at(opener);
            const bool oddMatch = markIndex < 2 && (c.canOpen || o.canClose) &&
                                  c.original % 3 != 0 && (o.original + c.original) % 3 == 0;
            if (o.mark == c.mark && o.canOpen && !oddMatch) {
                found = true;
                break;
            }
            opener = o.previous;
        }
        if (!found) {
            openersBottom[slot] = c.previous;
            const int next = c.next;
            if (!c.canOpen) removeDelimiter(closer);
            closer = next;
            continue;
        }
        Delimiter& o = at(opener);
        const int use = (markIndex == 2 || (c.count >= 2 && o.count >= 2)) ? 2 : 1;
        o.count -= use;
        c.count -= use;
        m_nodes[static_cast<std::size_t>(o.node)].length -= static_cast<std::uint32_t>(use);
        m_nodes[static_cast<std::size_t>(c.node)].length -= static_cast<std::uint32_t>(use);
        NodeKind open = NodeKind::strikeOpen;
        NodeKind close = NodeKind::strikeClose;
        if (markIndex < 2) {
            open = use == 2 ? NodeKind::strongOpen : NodeKind::emphasisOpen;
            close = use == 2 ? NodeKind::strongClose : NodeKind::emphasisClose;
        }
        const int openNode = o.node;
        const int closeNode = c.node;
        insertAfter(openNode, addNode(open, 0, 0));
        insertBefore(closeNode, addNode(close, 0, 0));
        // Delimiters between the pair can no longer match anything.
        for (int between = at(opener).next; between >= 0 && between != closer;) {
            const int next = at(between).next;
            removeDelimiter(between);
            between = next;
        }
        if (at(opener).count == 0) {
            unlinkNode(openNode);
            removeDelimiter(opener);
        }
        if (at(closer).count == 0) {
            const int next = at(closer).next;
            unlinkNode(closeNode);
            removeDelimiter(closer);
            closer = next;
        }
    }
    while (m_lastDelimiter >= 0 && m_lastDelimiter != bottom)
        removeDelimiter(m_lastDelimiter);
}

void InlineParser::handleCloseBracket() {
    const std::size_t close = m_position;
    if (m_brackets.empty()) {
        addNode(NodeKind::text, close, 1);
        ++m_position;
        return;
    }
    const Bracket opener = m_brackets.back();
    m_brackets.pop_back();
    // A link inside this one's text has been made since the bracket opened: links do
    // not nest, so the bracket is plain text now.
    if (!opener.image && opener.linksBefore < m_links) {
        addNode(NodeKind::text, close, 1);
        ++m_position;
        return;
    }

    bool matched = false;
    std::size_t end = close + 1;
    std::string_view rawAddress;
    std::string_view rawTitle;
    const LinkTarget* reference = nullptr;
    if (end < m_subject.size() && m_subject[end] == '(') {
        std::size_t at = end + 1;
        at += skipSpacesAndOneLine(m_subject, at);
        const std::size_t addressLength = scanLinkAddress(m_subject.substr(at), rawAddress);
        if (addressLength > 0 || (at < m_subject.size() && m_subject[at] == ')')) {
            at += addressLength;
            const std::size_t gap = skipSpacesAndOneLine(m_subject, at);
            if (gap > 0) {
                const std::size_t titleLength = scanLinkTitle(m_subject.substr(at + gap), rawTitle);
                if (titleLength > 0) at += gap + titleLength;
            }
            at += skipSpacesAndOneLine(m_subject, at);
            if (at < m_subject.size() && m_subject[at] == ')') {
                matched = true;
                end = at + 1;
            } else {
                rawTitle = {};
            }
        }
    }
    if (!matched) {
        std::size_t labelLength = scanLinkLabel(m_subject.substr(close + 1));
        if (labelLength == 0 && m_subject.substr(close + 1, 2) == "[]") labelLength = 2;
        std::string_view label;
        if (labelLength > 2)
            label = m_subject.substr(close + 2, labelLength - 2);
        else if (!opener.bracketAfter && close - opener.after <= 999)
            label = m_subject.substr(opener.after, close - opener.after);
        if (!label.empty()) {
            const auto found = m_references.find(normalizedLabel(label));
            if (found != m_references.end()) {
                reference = &found->second;
                matched = true;
                end = close + 1 + labelLength;
            }
        }
    }
    if (!matched) {
        addNode(NodeKind::text, close, 1);
        ++m_position;
        return;
    }

    std::pair<std::uint32_t, std::uint32_t> address;
    std::pair<std::uint32_t, std::uint32_t> title;
    if (reference) {
        address = isScriptAddress(reference->address) ? own("") : own(reference->address);
        title = own(reference->title);
    } else {
        address = ownAddress(rawAddress);
        const auto titleStart = static_cast<std::uint32_t>(m_arena.size());
        appendUnescaped(m_arena, rawTitle);
        title = {titleStart, static_cast<std::uint32_t>(m_arena.size() - titleStart)};
    }
    Node& open = m_nodes[static_cast<std::size_t>(opener.node)];
    open.kind = opener.image ? NodeKind::imageOpen : NodeKind::linkOpen;
    open.owned = true;
    open.start = address.first;
    open.length = address.second;
    open.titleStart = title.first;
    open.titleLength = title.second;
    const int closeNode = addNode(opener.image ? NodeKind::imageClose : NodeKind::linkClose, 0, 0);
    m_nodes[static_cast<std::size_t>(closeNode)].partner = opener.node;
    processEmphasis(opener.delimiterBelow);
    if (!opener.image) ++m_links;
    m_position = end;
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

} // namespace

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
