#include "document/markdown_blocks.h"

#include "document/markdown_html.h"
#include "document/markdown_links.h"
#include "document/markdown_text.h"

namespace lumatra::Markdown {
namespace {

constexpr int codeIndent = 4;

enum class Continuation { matched, unmatched, consumed };
enum class Start { none, container, leaf };

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

// The column alignment of a table's delimiter cell (":--", "--:", ":-:", "---"), or 0.
char alignmentOf(std::string_view cell) {
    if (cell.empty()) return 0;
    const bool left = cell.front() == ':';
    const bool right = cell.back() == ':';
    const std::size_t from = left ? 1 : 0;
    const std::size_t to = cell.size() - (right && cell.size() > from ? 1 : 0);
    if (to <= from) return 0;
    for (std::size_t at = from; at < to; ++at)
        if (cell[at] != '-') return 0;
    if (left && right) return 'c';
    if (left) return 'l';
    return right ? 'r' : 'n';
}

class BlockParser {
public:
    explicit BlockParser(Document& document) : m_document(document) {
        m_document.blocks.emplace_back();
    }
    void addLine(std::string_view line);
    void finish();

private:
    Block& block(int index) { return m_document.blocks[static_cast<std::size_t>(index)]; }
    char peek(std::size_t at) const { return at < m_line.size() ? m_line[at] : '\n'; }
    void findNextNonspace();
    void advanceOffset(int count, bool columns);
    void advanceNextNonspace();
    Continuation continues(int container);
    Start tryStarts(int& container);
    bool startListItem(int& container);
    bool startTable(int container);
    int addChild(BlockKind kind);
    void appendLineText();
    void closeUnmatched();
    void finalize(int index);
    void finalizeParagraph(int index);
    // Moves the link reference definitions at the start of `paragraph` into the document.
    void takeReferenceDefinitions(Block& paragraph);
    void finalizeList(int index);
    bool endsWithBlankLine(int index);
    void unlink(int index);

    Document& m_document;
    std::string_view m_line;
    int m_lineNumber = 0;
    std::size_t m_offset = 0;
    int m_column = 0;
    std::size_t m_nextNonspace = 0;
    int m_nextNonspaceColumn = 0;
    int m_indent = 0;
    bool m_indented = false;
    bool m_blank = false;
    bool m_partiallyConsumedTab = false;
    int m_tip = 0;
    int m_oldTip = 0;
    int m_lastMatched = 0;
    bool m_allClosed = true;
};

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

bool BlockParser::startListItem(int& container) {
    const BlockKind kind = block(container).kind;
    if (m_indent >= codeIndent || block(container).depth + 2 > maxBlockDepth) return false;
    const std::size_t at = m_nextNonspace;
    const char first = peek(at);
    bool ordered = false;
    char marker = 0;
    int start = 1;
    std::size_t length = 0;
    if (first == '*' || first == '+' || first == '-') {
        marker = first;
        length = 1;
    } else if (first >= '0' && first <= '9') {
        std::size_t digits = 0;
        while (digits < 10 && peek(at + digits) >= '0' && peek(at + digits) <= '9')
            ++digits;
        const char delimiter = peek(at + digits);
        if (digits > 9 || (delimiter != '.' && delimiter != ')')) return false;
        start = std::stoi(std::string(m_line.substr(at, digits)));
        if (kind == BlockKind::paragraph && start != 1) return false;
        ordered = true;
        marker = delimiter;
        length = digits + 1;
    } else {
        return false;
    }
    const char after = peek(at + length);
    if (after != '\n' && !isSpaceOrTab(after)) return false;
    if (kind == BlockKind::paragraph) {
        std::size_t rest = at + length;
        while (rest < m_line.size() && isSpaceOrTab(m_line[rest]))
            ++rest;
        if (rest >= m_line.size()) return false; // an empty item cannot interrupt a paragraph
    }

    const int markerOffset = m_indent;
    advanceNextNonspace();
    advanceOffset(static_cast<int>(length), true);
    const int spacesStartColumn = m_column;
    const std::size_t spacesStartOffset = m_offset;
    do {
        advanceOffset(1, true);
    } while (m_column - spacesStartColumn < 5 && isSpaceOrTab(peek(m_offset)));
    const bool blankItem = m_offset >= m_line.size();
    const int spacesAfterMarker = m_column - spacesStartColumn;
    int padding = 0;
    if (spacesAfterMarker >= 5 || spacesAfterMarker < 1 || blankItem) {
        padding = static_cast<int>(length) + 1;
        m_column = spacesStartColumn;
        m_offset = spacesStartOffset;
        m_partiallyConsumedTab = false;
        if (isSpaceOrTab(peek(m_offset))) advanceOffset(1, true);
    } else {
        padding = static_cast<int>(length) + spacesAfterMarker;
    }

    closeUnmatched();
    const Block& tip = block(m_tip);
    if (tip.kind != BlockKind::list || tip.ordered != ordered || tip.marker != marker) {
        const int list = addChild(BlockKind::list);
        block(list).ordered = ordered;
        block(list).marker = marker;
        block(list).start = start;
    }
    container = addChild(BlockKind::item);
    Block& item = block(container);
    item.ordered = ordered;
    item.marker = marker;
    item.markerOffset = markerOffset;
    item.padding = padding;
    return true;
}

bool BlockParser::startTable(int container) {
    const std::string_view delimiterRow = m_line.substr(m_nextNonspace);
    if (delimiterRow.find('-') == std::string_view::npos) return false;
    const auto delimiters = tableCells(delimiterRow);
    std::string alignments;
    for (const auto cell : delimiters) {
        const char alignment = alignmentOf(cell);
        if (alignment == 0) return false;
        alignments += alignment;
    }
    if (delimiters.size() == 1 && delimiterRow.find('|') == std::string_view::npos) return false;
    Block& paragraph = block(container);
    std::string_view text = paragraph.text;
    text.remove_suffix(1);
    const std::size_t lastLine = text.rfind('\n');
    const std::string_view header =
        lastLine == std::string_view::npos ? text : text.substr(lastLine + 1);
    if (header.find('|') == std::string_view::npos ||
        tableCells(header).size() != delimiters.size())
        return false;

    closeUnmatched();
    std::string headerRow(header);
    headerRow += '\n';
    if (lastLine == std::string_view::npos) {
        paragraph.kind = BlockKind::table;
        paragraph.text = std::move(headerRow);
        paragraph.alignments = std::move(alignments);
    } else {
        paragraph.text.resize(lastLine + 1);
        finalize(container);
        // The definitions at its start may have used up the paragraph.
        const int table = addChild(BlockKind::table);
        block(table).text = std::move(headerRow);
        block(table).alignments = std::move(alignments);
    }
    advanceOffset(static_cast<int>(m_line.size() - m_offset), false);
    return true;
}

Start BlockParser::tryStarts(int& container) {
    const char c = peek(m_nextNonspace);
    const BlockKind kind = block(container).kind;
    if (!m_indented) {
        if (c == '>' && block(container).depth + 1 <= maxBlockDepth) {
            advanceNextNonspace();
            advanceOffset(1, false);
            if (isSpaceOrTab(peek(m_offset))) advanceOffset(1, true);
            closeUnmatched();
            container = addChild(BlockKind::quote);
            return Start::container;
        }
        if (c == '#') {
            std::size_t at = m_nextNonspace;
            while (at < m_line.size() && m_line[at] == '#' && at - m_nextNonspace < 7)
                ++at;
            const auto level = static_cast<int>(at - m_nextNonspace);
            if (level <= 6 && (at == m_line.size() || isSpaceOrTab(m_line[at]))) {
                advanceNextNonspace();
                closeUnmatched();
                container = addChild(BlockKind::heading);
                Block& heading = block(container);
                heading.level = level;
                std::string_view text = m_line.substr(at);
                while (!text.empty() && isSpaceOrTab(text.front()))
                    text.remove_prefix(1);
                while (!text.empty() && isSpaceOrTab(text.back()))
                    text.remove_suffix(1);
                std::size_t hashes = text.size();
                while (hashes > 0 && text[hashes - 1] == '#')
                    --hashes;
                if (hashes == 0 || isSpaceOrTab(text[hashes - 1])) {
                    text = text.substr(0, hashes);
                    while (!text.empty() && isSpaceOrTab(text.back()))
                        text.remove_suffix(1);
                }
                heading.text = text;
                advanceOffset(static_cast<int>(m_line.size() - m_offset), false);
                return Start::leaf;
            }
        }
        if (c == '<') {
            // A lone tag cannot interrupt a paragraph, lazy continuation lines included.
            const bool inParagraph =
                kind == BlockKind::paragraph ||
                (!m_allClosed && !m_blank && block(m_tip).kind == BlockKind::paragraph);
            const int htmlKind = htmlBlockStart(m_line.substr(m_nextNonspace), inParagraph);
            if (htmlKind > 0) {
                closeUnmatched();
                container = addChild(BlockKind::html);
                block(container).htmlKind = htmlKind;
                return Start::leaf;
            }
        }
        if (c == '`' || c == '~') {
            std::size_t at = m_nextNonspace;
            while (at < m_line.size() && m_line[at] == c)
                ++at;
            const auto length = static_cast<int>(at - m_nextNonspace);
            if (length >= 3 && (c == '~' || m_line.find('`', at) == std::string_view::npos)) {
                closeUnmatched();
                container = addChild(BlockKind::code);
                Block& code = block(container);
                code.fenced = true;
                code.fenceChar = c;
                code.fenceLength = length;
                code.fenceOffset = m_indent;
                advanceNextNonspace();
                advanceOffset(length, false);
                return Start::leaf;
            }
        }
        if (kind == BlockKind::paragraph && (c == '=' || c == '-')) {
            std::size_t at = m_nextNonspace;
            while (at < m_line.size() && m_line[at] == c)
                ++at;
            while (at < m_line.size() && isSpaceOrTab(m_line[at]))
                ++at;
            if (at == m_line.size()) {
                closeUnmatched();
                Block& paragraph = block(container);
                takeReferenceDefinitions(paragraph);
                if (!paragraph.text.empty()) {
                    paragraph.kind = BlockKind::heading;
                    paragraph.level = c == '=' ? 1 : 2;
                    while (!paragraph.text.empty() && isAsciiWhitespace(paragraph.text.back()))
                        paragraph.text.pop_back();
                    advanceOffset(static_cast<int>(m_line.size() - m_offset), false);
                    return Start::leaf;
                }
            }
        }
        if (kind == BlockKind::paragraph && (c == '|' || c == ':' || c == '-') &&
            startTable(container)) {
            container = m_tip;
            return Start::leaf;
        }
        if (c == '*' || c == '-' || c == '_') {
            int count = 0;
            std::size_t at = m_nextNonspace;
            for (; at < m_line.size(); ++at) {
                if (m_line[at] == c)
                    ++count;
                else if (!isSpaceOrTab(m_line[at]))
                    break;
            }
            if (count >= 3 && at == m_line.size()) {
                closeUnmatched();
                container = addChild(BlockKind::rule);
                advanceOffset(static_cast<int>(m_line.size() - m_offset), false);
                return Start::leaf;
            }
        }
    }
    if ((!m_indented || kind == BlockKind::list) && startListItem(container))
        return Start::container;
    const BlockKind tipKind = block(m_tip).kind;
    if (m_indented && !m_blank && tipKind != BlockKind::paragraph && tipKind != BlockKind::table) {
        advanceOffset(codeIndent, true);
        closeUnmatched();
        container = addChild(BlockKind::code);
        return Start::leaf;
    }
    return Start::none;
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

} // namespace

std::vector<std::string_view> tableCells(std::string_view row) {
    while (!row.empty() && isAsciiWhitespace(row.front()))
        row.remove_prefix(1);
    while (!row.empty() && isAsciiWhitespace(row.back()))
        row.remove_suffix(1);
    if (!row.empty() && row.front() == '|') row.remove_prefix(1);
    if (!row.empty() && row.back() == '|' && !(row.size() >= 2 && row[row.size() - 2] == '\\'))
        row.remove_suffix(1);
    std::vector<std::string_view> cells;
    std::size_t start = 0;
    for (std::size_t at = 0; at <= row.size(); ++at) {
        if (at < row.size() && row[at] == '\\') {
            ++at;
            continue;
        }
        if (at < row.size() && row[at] != '|') continue;
        std::string_view cell = row.substr(start, at - start);
        while (!cell.empty() && isSpaceOrTab(cell.front()))
            cell.remove_prefix(1);
        while (!cell.empty() && isSpaceOrTab(cell.back()))
            cell.remove_suffix(1);
        cells.push_back(cell);
        start = at + 1;
    }
    return cells;
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
