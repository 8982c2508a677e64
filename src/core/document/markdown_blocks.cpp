#include "document/markdown_blocks.h"

#include "document/markdown_block_parser.h"
#include "document/markdown_html.h"
#include "document/markdown_links.h"
#include "document/markdown_text.h"

namespace lumatra::Markdown {
namespace {

bool canContain(BlockKind parent, BlockKind child) {
    switch (parent) {
    case BlockKind::document:
    case BlockKind::quote:
    case BlockKind::item:
        return child != BlockKind::item;
    case BlockKind::list:
        return child == BlockKind::item;
    case BlockKind::paragraph:
    case BlockKind::heading:
    case BlockKind::rule:
    case BlockKind::code:
    case BlockKind::table:
    case BlockKind::html:
        return false;
    }
    return false;
}

bool acceptsLines(BlockKind kind) {
    return kind == BlockKind::paragraph || kind == BlockKind::code || kind == BlockKind::table ||
           kind == BlockKind::html;
}

} // namespace

void BlockParser::findNextNonspace() {
    std::size_t at = m_offset;
    int column = m_column;
    while (at < m_line.size()) {
        if (m_line[at] == ' ') {
            ++column;
        } else if (m_line[at] == '\t') {
            column += 4 - column % 4;
        } else {
            break;
        }
        ++at;
    }
    m_blank = at >= m_line.size();
    m_nextNonspace = at;
    m_nextNonspaceColumn = column;
    m_indent = column - m_column;
    m_indented = m_indent >= codeIndent;
}

void BlockParser::advanceOffset(int count, bool columns) {
    while (count > 0 && m_offset < m_line.size()) {
        if (m_line[m_offset] == '\t') {
            const int toTab = 4 - m_column % 4;
            if (columns) {
                m_partiallyConsumedTab = toTab > count;
                const int advance = toTab < count ? toTab : count;
                m_column += advance;
                m_offset += m_partiallyConsumedTab ? 0 : 1;
                count -= advance;
            } else {
                m_partiallyConsumedTab = false;
                m_column += toTab;
                ++m_offset;
                --count;
            }
        } else {
            m_partiallyConsumedTab = false;
            ++m_offset;
            ++m_column;
            --count;
        }
    }
}

void BlockParser::advanceNextNonspace() {
    m_offset = m_nextNonspace;
    m_column = m_nextNonspaceColumn;
    m_partiallyConsumedTab = false;
}

Continuation BlockParser::continues(int container) {
    Block& b = block(container);
    switch (b.kind) {
    case BlockKind::document:
    case BlockKind::list:
        return Continuation::matched;
    case BlockKind::quote:
        if (m_indented || peek(m_nextNonspace) != '>') return Continuation::unmatched;
        advanceNextNonspace();
        advanceOffset(1, false);
        if (isSpaceOrTab(peek(m_offset))) advanceOffset(1, true);
        return Continuation::matched;
    case BlockKind::item:
        if (m_blank) {
            if (b.firstChild < 0) return Continuation::unmatched;
            advanceNextNonspace();
            return Continuation::matched;
        }
        if (m_indent >= b.markerOffset + b.padding) {
            advanceOffset(b.markerOffset + b.padding, true);
            return Continuation::matched;
        }
        return Continuation::unmatched;
    case BlockKind::paragraph:
    case BlockKind::table:
        return m_blank ? Continuation::unmatched : Continuation::matched;
    case BlockKind::heading:
    case BlockKind::rule:
        return Continuation::unmatched;
    case BlockKind::html:
        return m_blank && (b.htmlKind == 6 || b.htmlKind == 7) ? Continuation::unmatched
                                                               : Continuation::matched;
    case BlockKind::code:
        if (!b.fenced) {
            if (m_indent >= codeIndent) {
                advanceOffset(codeIndent, true);
                return Continuation::matched;
            }
            if (m_blank) {
                advanceNextNonspace();
                return Continuation::matched;
            }
            return Continuation::unmatched;
        }
        if (!m_indented && peek(m_nextNonspace) == b.fenceChar) {
            std::size_t at = m_nextNonspace;
            while (at < m_line.size() && m_line[at] == b.fenceChar)
                ++at;
            const auto length = static_cast<int>(at - m_nextNonspace);
            while (at < m_line.size() && isSpaceOrTab(m_line[at]))
                ++at;
            if (length >= b.fenceLength && at == m_line.size()) {
                finalize(container);
                return Continuation::consumed;
            }
        }
        for (int i = b.fenceOffset; i > 0 && isSpaceOrTab(peek(m_offset)); --i)
            advanceOffset(1, true);
        return Continuation::matched;
    }
    return Continuation::unmatched;
}

int BlockParser::addChild(BlockKind kind) {
    while (!canContain(block(m_tip).kind, kind))
        finalize(m_tip);
    const int parent = m_tip;
    const auto index = static_cast<int>(m_document.blocks.size());
    Block child;
    child.kind = kind;
    child.parent = parent;
    child.depth = block(parent).depth + 1;
    child.startLine = m_lineNumber;
    child.previous = block(parent).lastChild;
    m_document.blocks.push_back(std::move(child));
    Block& p = block(parent);
    if (p.lastChild >= 0)
        block(p.lastChild).next = index;
    else
        p.firstChild = index;
    p.lastChild = index;
    m_tip = index;
    return index;
}

void BlockParser::unlink(int index) {
    Block& b = block(index);
    Block& parent = block(b.parent);
    if (b.previous >= 0)
        block(b.previous).next = b.next;
    else
        parent.firstChild = b.next;
    if (b.next >= 0)
        block(b.next).previous = b.previous;
    else
        parent.lastChild = b.previous;
}

void BlockParser::closeUnmatched() {
    if (m_allClosed) return;
    while (m_oldTip != m_lastMatched) {
        const int parent = block(m_oldTip).parent;
        finalize(m_oldTip);
        m_oldTip = parent;
    }
    m_allClosed = true;
}

void BlockParser::appendLineText() {
    Block& tip = block(m_tip);
    if (m_partiallyConsumedTab) {
        ++m_offset;
        tip.text.append(static_cast<std::size_t>(4 - m_column % 4), ' ');
    }
    if (m_offset < m_line.size()) tip.text.append(m_line.substr(m_offset));
    tip.text += '\n';
}

void BlockParser::addLine(std::string_view line) {
    m_line = line;
    m_offset = 0;
    m_column = 0;
    m_blank = false;
    m_partiallyConsumedTab = false;
    ++m_lineNumber;

    int container = 0;
    while (block(container).lastChild >= 0 && block(block(container).lastChild).open) {
        const int child = block(container).lastChild;
        findNextNonspace();
        const Continuation result = continues(child);
        if (result == Continuation::consumed) return;
        if (result == Continuation::unmatched) break;
        container = child;
    }
    m_oldTip = m_tip;
    m_lastMatched = container;
    m_allClosed = m_tip == container;

    const BlockKind matchedKind = block(container).kind;
    bool matchedLeaf = matchedKind != BlockKind::paragraph && matchedKind != BlockKind::table &&
                       acceptsLines(matchedKind);
    while (!matchedLeaf) {
        findNextNonspace();
        const char c = peek(m_nextNonspace);
        if (!m_indented && c != '>' && c != '#' && c != '`' && c != '~' && c != '=' && c != '-' &&
            c != '*' && c != '_' && c != '+' && c != '|' && c != ':' && c != '<' &&
            !(c >= '0' && c <= '9')) {
            advanceNextNonspace();
            break;
        }
        const Start started = tryStarts(container);
        if (started == Start::none) {
            advanceNextNonspace();
            break;
        }
        if (started == Start::leaf) break;
    }

    // A lazy continuation line of an open paragraph.
    if (!m_allClosed && !m_blank && block(m_tip).kind == BlockKind::paragraph) {
        appendLineText();
        return;
    }
    closeUnmatched();
    Block& target = block(container);
    if (m_blank && target.lastChild >= 0) block(target.lastChild).lastLineBlank = true;
    const bool lastLineBlank =
        m_blank &&
        !(target.kind == BlockKind::quote || (target.kind == BlockKind::code && target.fenced) ||
          (target.kind == BlockKind::item && target.firstChild < 0 &&
           target.startLine == m_lineNumber));
    for (int up = container; up >= 0; up = block(up).parent)
        block(up).lastLineBlank = lastLineBlank;

    if (acceptsLines(target.kind) && target.open) {
        if (target.kind == BlockKind::table) {
            // The delimiter row that started the table has been used up.
            if (!m_blank && m_offset < m_line.size())
                target.text.append(m_line.substr(m_offset)).append(1, '\n');
            return;
        }
        appendLineText();
        if (target.kind == BlockKind::html &&
            htmlBlockEnds(target.htmlKind, m_line.substr(m_offset)))
            finalize(container);
    } else if (m_offset < m_line.size() && !m_blank) {
        addChild(BlockKind::paragraph);
        advanceNextNonspace();
        appendLineText();
    }
}

void BlockParser::takeReferenceDefinitions(Block& paragraph) {
    std::size_t used = 0;
    while (used < paragraph.text.size() && paragraph.text[used] == '[') {
        const std::size_t length = parseReferenceDefinition(
            std::string_view(paragraph.text).substr(used), m_document.references);
        if (length == 0) break;
        used += length;
    }
    if (used > 0) paragraph.text.erase(0, used);
}

void BlockParser::finalizeParagraph(int index) {
    Block& paragraph = block(index);
    takeReferenceDefinitions(paragraph);
    for (const char c : paragraph.text)
        if (!isAsciiWhitespace(c)) return;
    unlink(index);
}

bool BlockParser::endsWithBlankLine(int index) {
    // Lists and items end with a blank line when their last child does; the walk down
    // is remembered, so that every block is looked at once.
    while (index >= 0) {
        Block& b = block(index);
        if (b.lastLineBlank) return true;
        const bool container = b.kind == BlockKind::list || b.kind == BlockKind::item;
        if (!container || b.lastLineChecked) {
            b.lastLineChecked = true;
            return false;
        }
        b.lastLineChecked = true;
        index = b.lastChild;
    }
    return false;
}

void BlockParser::finalizeList(int index) {
    for (int item = block(index).firstChild; item >= 0; item = block(item).next) {
        if (block(item).next >= 0 && endsWithBlankLine(item)) {
            block(index).tight = false;
            return;
        }
        for (int child = block(item).firstChild; child >= 0; child = block(child).next) {
            if (endsWithBlankLine(child) && (block(item).next >= 0 || block(child).next >= 0)) {
                block(index).tight = false;
                return;
            }
        }
    }
}

void BlockParser::finalize(int index) {
    Block& b = block(index);
    const int parent = b.parent;
    b.open = false;
    switch (b.kind) {
    case BlockKind::paragraph:
        finalizeParagraph(index);
        break;
    case BlockKind::code:
        if (b.fenced) {
            const std::size_t end = b.text.find('\n');
            appendUnescaped(b.info, std::string_view(b.text).substr(0, end));
            b.text.erase(0, end == std::string::npos ? b.text.size() : end + 1);
            while (!b.info.empty() && isAsciiWhitespace(b.info.back()))
                b.info.pop_back();
            std::size_t lead = 0;
            while (lead < b.info.size() && isAsciiWhitespace(b.info[lead]))
                ++lead;
            b.info.erase(0, lead);
        } else {
            // Trailing blank lines are not part of an indented block.
            std::size_t keep = 0;
            for (std::size_t line = 0; line < b.text.size();) {
                const std::size_t end = b.text.find('\n', line);
                for (std::size_t at = line; at < end; ++at) {
                    if (!isSpaceOrTab(b.text[at])) {
                        keep = end + 1;
                        break;
                    }
                }
                line = end + 1;
            }
            b.text.resize(keep);
        }
        break;
    case BlockKind::list:
        finalizeList(index);
        break;
    case BlockKind::document:
    case BlockKind::quote:
    case BlockKind::item:
    case BlockKind::heading:
    case BlockKind::rule:
    case BlockKind::table:
    case BlockKind::html:
        break;
    }
    m_tip = parent;
}

void BlockParser::finish() {
    while (m_tip > 0)
        finalize(m_tip);
    finalize(0);
}

Document parseBlocks(std::string_view markdown) {
    Document document;
    BlockParser parser(document);
    std::string cleaned;
    std::size_t start = 0;
    while (start < markdown.size()) {
        std::size_t end = start;
        while (end < markdown.size() && markdown[end] != '\n' && markdown[end] != '\r')
            ++end;
        std::string_view line = markdown.substr(start, end - start);
        // A zero character would end C strings further on: it is U+FFFD.
        if (line.find('\0') != std::string_view::npos) {
            cleaned.clear();
            for (const char c : line)
                if (c == '\0')
                    cleaned += "\xEF\xBF\xBD";
                else
                    cleaned += c;
            line = cleaned;
        }
        parser.addLine(line);
        if (end < markdown.size() && markdown[end] == '\r' && end + 1 < markdown.size() &&
            markdown[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    parser.finish();
    return document;
}

} // namespace lumatra::Markdown
