#pragma once
// The state of the inline parser (markdown_inlines.h) over one paragraph, heading or
// table cell, shared by its two halves: markdown_inlines.cpp reads the text into a list
// of nodes and writes them out as HTML, markdown_delimiters.cpp pairs the delimiters in
// that list into emphasis, links and images.

#include "document/markdown_blocks.h"
#include "document/markdown_html.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace lumatra::Markdown {

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

} // namespace lumatra::Markdown
