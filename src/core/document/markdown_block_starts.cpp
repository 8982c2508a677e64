#include "document/markdown_block_parser.h"
#include "document/markdown_html.h"
#include "document/markdown_text.h"

namespace lumatra::Markdown {
namespace {

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

} // namespace

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

} // namespace lumatra::Markdown
