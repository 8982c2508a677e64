#include "document/markdown.h"

#include "document/markdown_blocks.h"
#include "document/markdown_html.h"
#include "document/markdown_inlines.h"
#include "document/markdown_text.h"

#include <array>

namespace lumatra::Markdown {
namespace {

class Renderer {
public:
    Renderer(const Document& document, std::size_t sourceSize)
        : m_document(document), m_paddingLeft(sourceSize) {}
    void render(std::string& out, int index, bool tight);

private:
    const Block& block(int index) const {
        return m_document.blocks[static_cast<std::size_t>(index)];
    }
    void children(std::string& out, int index, bool tight);
    void paragraph(std::string& out, std::string_view text, std::string_view box);
    void code(std::string& out, const Block& b);
    void table(std::string& out, const Block& b);

    const Document& m_document;
    // Empty cells added to short table rows: no more than the source has bytes, so that
    // a wide header over many one-character rows cannot blow the page up.
    std::size_t m_paddingLeft;
};

// The check box of a task item ("[ ] ", "[x] "), removed from `text`: "☐ ", "☑ ", or
// empty when the text starts with none.
std::string_view takeTaskBox(std::string_view& text) {
    if (text.size() < 4 || text[0] != '[' || text[2] != ']' || !isSpaceOrTab(text[3])) return {};
    const char mark = text[1];
    if (mark != ' ' && mark != 'x' && mark != 'X') return {};
    text.remove_prefix(4);
    return mark == ' ' ? "\u2610 " : "\u2611 ";
}

void Renderer::children(std::string& out, int index, bool tight) {
    for (int child = block(index).firstChild; child >= 0; child = block(child).next)
        render(out, child, tight);
}

void Renderer::paragraph(std::string& out, std::string_view text, std::string_view box) {
    out += "<p>";
    out += box;
    appendInlineHtml(out, text, m_document.references);
    out += "</p>\n";
}

void Renderer::code(std::string& out, const Block& b) {
    out += "<pre><code";
    if (!b.info.empty()) {
        std::size_t end = 0;
        while (end < b.info.size() && !isAsciiWhitespace(b.info[end]))
            ++end;
        out += " class=\"language-";
        appendEscaped(out, std::string_view(b.info).substr(0, end));
        out += '"';
    }
    out += '>';
    appendEscaped(out, b.text);
    out += "</code></pre>\n";
}

void Renderer::table(std::string& out, const Block& b) {
    const std::string_view text = b.text;
    std::size_t row = 0;
    std::string cellText;
    out += "<table>\n<thead>\n";
    for (std::size_t start = 0; start < text.size(); ++row) {
        const std::size_t end = text.find('\n', start);
        const auto cells = tableCells(text.substr(start, end - start));
        start = end + 1;
        if (row == 1) out += "<tbody>\n";
        out += "<tr>\n";
        const char* tag = row == 0 ? "th" : "td";
        for (std::size_t column = 0; column < b.alignments.size(); ++column) {
            if (column >= cells.size()) {
                if (m_paddingLeft == 0) break;
                --m_paddingLeft;
            }
            out += '<';
            out += tag;
            switch (b.alignments[column]) {
            case 'l':
                out += " align=\"left\"";
                break;
            case 'c':
                out += " align=\"center\"";
                break;
            case 'r':
                out += " align=\"right\"";
                break;
            default:
                break;
            }
            out += '>';
            if (column < cells.size()) {
                // An escaped "|" is a plain "|" for everything inside the cell.
                cellText.clear();
                const std::string_view cell = cells[column];
                for (std::size_t at = 0; at < cell.size(); ++at) {
                    if (cell[at] == '\\' && at + 1 < cell.size() && cell[at + 1] == '|') continue;
                    cellText += cell[at];
                }
                appendInlineHtml(out, cellText, m_document.references);
            }
            out += "</";
            out += tag;
            out += ">\n";
        }
        out += "</tr>\n";
        if (row == 0) out += "</thead>\n";
    }
    if (row > 1) out += "</tbody>\n";
    out += "</table>\n";
}

void Renderer::render(std::string& out, int index, bool tight) {
    const Block& b = block(index);
    switch (b.kind) {
    case BlockKind::document:
        children(out, index, false);
        return;
    case BlockKind::quote:
        out += "<blockquote>\n";
        children(out, index, false);
        out += "</blockquote>\n";
        return;
    case BlockKind::list:
        if (!b.ordered) {
            out += "<ul>\n";
        } else if (b.start != 1) {
            out += "<ol start=\"";
            out += std::to_string(b.start);
            out += "\">\n";
        } else {
            out += "<ol>\n";
        }
        children(out, index, b.tight);
        out += b.ordered ? "</ol>\n" : "</ul>\n";
        return;
    case BlockKind::item:
        out += "<li>";
        for (int child = b.firstChild; child >= 0; child = block(child).next) {
            const Block& c = block(child);
            if (c.kind != BlockKind::paragraph) {
                if (out.back() != '\n') out += '\n';
                render(out, child, tight);
                continue;
            }
            std::string_view text = c.text;
            const std::string_view box = child == b.firstChild ? takeTaskBox(text) : "";
            if (!tight) {
                if (out.back() != '\n') out += '\n';
                paragraph(out, text, box);
                continue;
            }
            // Tight items hold their paragraphs' text without the paragraph.
            out += box;
            appendInlineHtml(out, text, m_document.references);
            if (c.next >= 0) out += '\n';
        }
        out += "</li>\n";
        return;
    case BlockKind::paragraph:
        paragraph(out, b.text, {});
        return;
    case BlockKind::heading: {
        const std::array<char, 2> level = {'h', static_cast<char>('0' + b.level)};
        out += '<';
        out.append(level.data(), level.size());
        out += '>';
        appendInlineHtml(out, b.text, m_document.references);
        out += "</";
        out.append(level.data(), level.size());
        out += ">\n";
        return;
    }
    case BlockKind::rule:
        out += "<hr>\n";
        return;
    case BlockKind::code:
        code(out, b);
        return;
    case BlockKind::table:
        table(out, b);
        return;
    case BlockKind::html: {
        // Without the blank lines it ends with.
        std::string_view text = b.text;
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.remove_suffix(1);
        appendSafeHtml(out, text);
        out += '\n';
        return;
    }
    }
}

} // namespace

void appendEscaped(std::string& out, std::string_view text) {
    std::size_t copied = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* entity = nullptr;
        switch (text[i]) {
        case '&':
            entity = "&amp;";
            break;
        case '<':
            entity = "&lt;";
            break;
        case '>':
            entity = "&gt;";
            break;
        case '"':
            entity = "&quot;";
            break;
        default:
            continue;
        }
        out.append(text.substr(copied, i - copied)).append(entity);
        copied = i + 1;
    }
    out.append(text.substr(copied));
}

std::string bodyHtml(std::string_view markdown) {
    const Document document = parseBlocks(markdown);
    std::string out;
    out.reserve(markdown.size() + markdown.size() / 4);
    Renderer(document, markdown.size()).render(out, 0, false);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string html(std::string_view markdown, std::string_view title) {
    std::string page = "<!doctype html><html><head><meta charset=\"utf-8\"><title>";
    appendEscaped(page, title);
    // Headings in the body's sans family, code in its monospaced sibling, whoever lays
    // the page out.
    page += "</title><style>h1, h2, h3, h4, h5, h6, th, summary { font-family: \"DejaVu Sans\", "
            "Helvetica, sans-serif } pre, code, kbd, samp { font-family: \"DejaVu Sans Mono\", "
            "monospace }</style></head>\n<body style=\"font-family: -apple-system, Helvetica; "
            "font-size: 13pt\">\n";
    page += bodyHtml(markdown);
    page += "\n</body></html>";
    return page;
}

} // namespace lumatra::Markdown
