#pragma once
// The state of the block parser (markdown_blocks.h) while it walks the lines of one
// document, shared by its two halves: markdown_blocks.cpp follows the open blocks from
// line to line and closes them, markdown_block_starts.cpp recognises what starts a new
// block.

#include "document/markdown_blocks.h"

#include <string_view>

namespace lumatra::Markdown {

/// Columns of indentation that make a line code.
inline constexpr int codeIndent = 4;

enum class Continuation { matched, unmatched, consumed };
enum class Start { none, container, leaf };

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

} // namespace lumatra::Markdown
