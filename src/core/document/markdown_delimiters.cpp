#include "document/markdown_inline_parser.h"
#include "document/markdown_links.h"
#include "document/markdown_text.h"

#include <array>

namespace lumatra::Markdown {

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

} // namespace lumatra::Markdown
