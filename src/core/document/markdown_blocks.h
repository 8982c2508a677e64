#pragma once
// The block structure of a Markdown document: the first of the renderer's two passes
// splits the text into containers (block quotes, lists, items) and leaf blocks
// (paragraphs, headings, rules, code, tables) and collects the link references.

#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace lumatra::Markdown {

enum class BlockKind { document, quote, list, item, paragraph, heading, rule, code, table, html };

/// One block of the tree; blocks refer to each other by their index in `Document::blocks`
/// (-1: none).
struct Block {
    BlockKind kind = BlockKind::document;
    int parent = -1;
    int firstChild = -1;
    int lastChild = -1;
    int previous = -1;
    int next = -1;
    int depth = 0;
    int startLine = 0;
    bool open = true;
    bool lastLineBlank = false;
    bool lastLineChecked = false;
    // Lists and items.
    bool ordered = false;
    bool tight = true;
    char marker = 0; // '-', '+', '*' or the '.' or ')' after a number
    int start = 1;
    int markerOffset = 0;
    int padding = 0;
    // Headings: 1 to 6.
    int level = 0;
    // Code blocks.
    bool fenced = false;
    char fenceChar = 0;
    int fenceLength = 0;
    int fenceOffset = 0;
    std::string info;
    // HTML blocks: how they end (1 to 7, as htmlBlockStart tells).
    int htmlKind = 0;
    /// Paragraph and heading text, code, or table rows, each line ending in "\n" (for a
    /// table: the header row, then the body rows).
    std::string text;
    /// Table columns: 'l', 'c', 'r' or 'n' (not aligned), one a column.
    std::string alignments;
};

struct LinkTarget {
    std::string address;
    std::string title;
};

/// Link reference definitions by normalized label; the first definition of a label wins.
using References = std::unordered_map<std::string, LinkTarget>;

struct Document {
    std::deque<Block> blocks; ///< blocks[0] is the document itself; blocks never move
    References references;
};

/// The deepest nesting of block quotes and list items; deeper markers are plain text, so
/// that no input can make the tree deeper than the renderer's stack allows.
inline constexpr int maxBlockDepth = 100;

/// The block tree of `markdown`. Never fails; time is linear in the input.
Document parseBlocks(std::string_view markdown);

/// The cells of one table row: the text between unescaped "|", each trimmed.
std::vector<std::string_view> tableCells(std::string_view row);

} // namespace lumatra::Markdown
