#include "data/csv.h"

#include "data/json.h"
#include "data/number_text.h"
#include "text/utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace lumatra::CSV {

namespace {

constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

// A trailing line terminator, as a regular expression's "$" lets one stand at the very
// end: its length in bytes, or 0.
std::size_t trailingBreak(std::string_view cell) {
    if (cell.ends_with("\r\n")) return 2;
    if (cell.ends_with("\xC2\x85") || cell.ends_with("\xE2\x80\xA8") ||
        cell.ends_with("\xE2\x80\xA9"))
        return cell.ends_with("\xC2\x85") ? 2 : 3;
    if (!cell.empty()) {
        const char last = cell.back();
        if (last == '\n' || last == '\r' || last == '\v' || last == '\f') return 1;
    }
    return 0;
}

Node cellNode(std::string&& cell) {
    if (isNumberCell(cell)) return Node::number(std::move(cell));
    return Node::string(std::move(cell));
}

using Cells = std::vector<std::string_view>;

// The cell being read: a piece of the text while it is one, else built in the row's
// scratch buffer (after a doubled quote, or text after a closing quote).
class CellReader {
public:
    explicit CellReader(std::string& scratch) : m_scratch(scratch) {}

    bool empty() const { return m_built ? m_scratch.size() == m_offset : m_begin == m_end; }

    void append(const char* begin, const char* end) {
        if (m_built) {
            m_scratch.append(begin, end);
        } else if (m_begin == m_end) {
            m_begin = begin;
            m_end = end;
        } else if (m_end == begin) {
            m_end = end;
        } else {
            m_built = true;
            m_offset = m_scratch.size();
            m_scratch.append(m_begin, m_end);
            m_scratch.append(begin, end);
        }
    }

    // Where a finished cell lies: in the text, or (begin null) in the scratch buffer.
    struct Piece {
        const char* begin;
        std::size_t offset;
        std::size_t size;
    };
    Piece take() {
        const Piece piece = m_built ? Piece{nullptr, m_offset, m_scratch.size() - m_offset}
                                    : Piece{m_begin, 0, static_cast<std::size_t>(m_end - m_begin)};
        m_built = false;
        m_begin = m_end = nullptr;
        return piece;
    }

private:
    std::string& m_scratch;
    const char* m_begin = nullptr;
    const char* m_end = nullptr;
    bool m_built = false;
    std::size_t m_offset = 0;
};

// Splits `text` (its byte-order mark already removed) into cells: `onCell(cell, stable)`
// gets each cell, a view into the text when `stable`, else into a buffer that the next
// cell reuses; `onRowEnd(offset)` follows a row's last cell with the offset where the next
// row begins. Quotes open only at the start of a cell, "" inside quotes is one quote, and
// LF, CR LF and CR end rows. Blank lines come through as rows of one empty cell.
template <typename OnCell, typename OnRowEnd>
void splitCells(std::string_view text, char delimiter, OnCell&& onCell, OnRowEnd&& onRowEnd) {
    std::string scratch;
    CellReader cell(scratch);
    const char* p = text.data();
    const char* end = p + text.size();
    bool rowOpen = false; // a delimiter was passed in this row
    auto endCell = [&] {
        const CellReader::Piece piece = cell.take();
        if (piece.begin)
            onCell(std::string_view(piece.begin, piece.size), true);
        else
            onCell(std::string_view(scratch.data() + piece.offset, piece.size), piece.size == 0);
        scratch.clear();
    };
    while (p != end) {
        const char c = *p;
        if (c == '"' && cell.empty()) {
            // A quoted cell: up to the closing quote, with "" standing for one quote.
            ++p;
            for (;;) {
                const char* quote = static_cast<const char*>(
                    std::memchr(p, '"', static_cast<std::size_t>(end - p)));
                if (!quote) {
                    cell.append(p, end);
                    p = end;
                    break;
                }
                cell.append(p, quote);
                p = quote + 1;
                if (p != end && *p == '"') {
                    cell.append(quote, quote + 1);
                    ++p;
                    continue;
                }
                break;
            }
            continue;
        }
        if (c == delimiter) {
            endCell();
            rowOpen = true;
            ++p;
            continue;
        }
        if (c == '\n' || c == '\r') {
            ++p;
            if (c == '\r' && p != end && *p == '\n') ++p;
            endCell();
            onRowEnd(static_cast<std::size_t>(p - text.data()));
            rowOpen = false;
            continue;
        }
        // Plain text up to the next byte that matters.
        const char* run = p++;
        while (p != end && *p != delimiter && *p != '\n' && *p != '\r' && *p != '"')
            ++p;
        cell.append(run, p);
    }
    if (!cell.empty() || rowOpen) {
        endCell();
        onRowEnd(text.size());
    }
}

// Splits `text` into rows and hands each row's cells to `onRow`; the views live until
// `onRow` returns. Blank lines (one empty cell) are left out.
template <typename OnRow> void splitRows(std::string_view text, char delimiter, OnRow&& onRow) {
    if (text.starts_with(byteOrderMark)) text.remove_prefix(byteOrderMark.size());
    std::string storage; // cells that are no piece of the text
    std::vector<CellReader::Piece> pieces;
    Cells cells;
    splitCells(
        text, delimiter,
        [&](std::string_view cell, bool stable) {
            if (stable) {
                pieces.push_back({cell.data(), 0, cell.size()});
                return;
            }
            pieces.push_back({nullptr, storage.size(), cell.size()});
            storage.append(cell);
        },
        [&](std::size_t) {
            const bool blank = pieces.size() == 1 && pieces[0].size == 0;
            if (!blank) {
                cells.clear();
                for (const CellReader::Piece& piece : pieces)
                    cells.emplace_back(piece.begin ? piece.begin : storage.data() + piece.offset,
                                       piece.size);
                onRow(cells);
            }
            pieces.clear();
            storage.clear();
        });
}

// Builds records row by row, handing each to `onRecord` when it is given.
class TableBuilder {
public:
    explicit TableBuilder(const ItemHandler* onRecord = nullptr) : m_onRecord(onRecord) {}

    void add(const Cells& row) {
        if (!m_haveHeader) {
            m_haveHeader = true;
            m_header = columnNames(row);
            return;
        }
        Node::Object members;
        members.reserve(m_header.size());
        for (std::size_t i = 0; i < m_header.size(); ++i)
            members.emplace_back(m_header[i],
                                 i < row.size() ? cellNode(std::string(row[i])) : Node::string({}));
        if (m_onRecord)
            (*m_onRecord)(Node::object(std::move(members)));
        else
            m_records.push_back(Node::object(std::move(members)));
    }

    Node result() {
        m_records.shrink_to_fit();
        return Node::array(std::move(m_records));
    }

private:
    const ItemHandler* m_onRecord;
    bool m_haveHeader = false;
    Row m_header;
    Node::Array m_records;
};

} // namespace

Row columnNames(const std::vector<std::string_view>& header) {
    Row names;
    names.reserve(header.size());
    for (std::size_t i = 0; i < header.size(); ++i)
        names.push_back(header[i].empty() ? "column" + std::to_string(i + 1)
                                          : std::string(header[i]));
    // A repeated name gets the first free suffix "_2", "_3"…, never one that another
    // column already has, so no value is lost to a reader that keeps one value a key.
    std::unordered_set<std::string_view> taken(names.begin(), names.end());
    if (taken.size() == names.size()) return names;
    std::unordered_set<std::string> used;
    for (std::string& name : names) {
        if (used.insert(name).second) continue;
        for (std::size_t n = 2;; ++n) {
            std::string candidate = name + "_" + std::to_string(n);
            if (taken.count(candidate) == 0 && used.count(candidate) == 0) {
                name = std::move(candidate);
                used.insert(name);
                break;
            }
        }
    }
    return names;
}

namespace {

bool hasByte(std::uint64_t word, unsigned char byte) {
    const std::uint64_t x = word ^ (0x0101010101010101ull * byte);
    return ((x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull) != 0;
}

bool needsQuotes(std::string_view cell, char delimiter) {
    const char* p = cell.data();
    const char* end = p + cell.size();
    // Eight bytes at a time, then byte by byte.
    for (; end - p >= 8; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if (hasByte(word, static_cast<unsigned char>(delimiter)) || hasByte(word, '"') ||
            hasByte(word, '\n') || hasByte(word, '\r'))
            return true;
    }
    for (; p != end; ++p)
        if (*p == delimiter || *p == '"' || *p == '\n' || *p == '\r') return true;
    return false;
}

void writeRecords(std::string& out, const Node::Array& items, char delimiter) {
    std::vector<std::string_view> columns;
    std::unordered_map<std::string_view, std::size_t> index;
    for (const Node& item : items)
        for (const Node::Member& member : item.members())
            if (index.emplace(member.first, columns.size()).second) columns.push_back(member.first);

    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) out.push_back(delimiter);
        appendTextCell(out, columns[i], delimiter);
    }
    out.append("\r\n");

    std::vector<const Node*> cells(columns.size());
    for (const Node& item : items) {
        std::fill(cells.begin(), cells.end(), nullptr);
        const Node::Object& members = item.members();
        for (std::size_t i = 0; i < members.size(); ++i) {
            // Most records list the columns in header order; look up the others. A later
            // duplicate of a key replaces the earlier value.
            const std::size_t column = i < columns.size() && columns[i] == members[i].first
                                           ? i
                                           : index.at(members[i].first);
            cells[column] = &members[i].second;
        }
        appendCells(out, cells, delimiter);
        out.append("\r\n");
    }
}

} // namespace

char detectDelimiter(std::string_view text) {
    std::size_t comma = 0, semicolon = 0, tab = 0;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (quoted) continue;
        if (c == '\n' || c == '\r') break;
        if (c == ',') ++comma;
        if (c == ';') ++semicolon;
        if (c == '\t') ++tab;
    }
    if (semicolon > comma && semicolon >= tab) return ';';
    if (tab > comma && tab > semicolon) return '\t';
    return ',';
}

void forEachRow(std::string_view text, char delimiter, const std::function<void(Row&)>& onRow) {
    Row row;
    splitRows(text, delimiter, [&](const Cells& cells) {
        row.assign(cells.begin(), cells.end());
        onRow(row);
    });
}

std::vector<Row> parse(std::string_view text, char delimiter) {
    std::vector<Row> rows;
    forEachRow(text, delimiter, [&](Row& row) { rows.push_back(std::move(row)); });
    return rows;
}

Node table(std::string_view text, char delimiter) {
    TableBuilder builder;
    splitRows(text, delimiter, [&](const Cells& row) { builder.add(row); });
    return builder.result();
}

void forEachRecord(std::string_view text, char delimiter, const ItemHandler& onRecord) {
    TableBuilder builder(&onRecord);
    splitRows(text, delimiter, [&](const Cells& row) { builder.add(row); });
}

void appendTextCell(std::string& out, std::string_view cell, char delimiter) {
    if (!needsQuotes(cell, delimiter)) {
        out.append(cell);
        return;
    }
    out.push_back('"');
    for (const char c : cell) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

void appendValueCell(std::string& out, const Node& value, char delimiter) {
    switch (value.type()) {
    case Node::Type::boolean:
        out.append(value.boolValue() ? "true" : "false");
        return;
    case Node::Type::number:
    case Node::Type::string:
        appendTextCell(out, value.text(), delimiter);
        return;
    case Node::Type::null:
        return;
    case Node::Type::array:
    case Node::Type::object: {
        // One buffer for all nested cells of a thread, so that a cell costs no allocation.
        thread_local std::string json;
        json.clear();
        JSON::appendTo(json, value, 0, false);
        appendTextCell(out, json, delimiter);
        return;
    }
    }
}

void appendJson(Sink& sink, std::string_view text, char delimiter) {
    if (text.starts_with(byteOrderMark)) text.remove_prefix(byteOrderMark.size());
    std::string& out = sink.text();
    const bool wellFormed = utf8::isValid(text); // then no cell needs repairing
    // Cell by cell, holding no row: the header is only remembered as a span of the text,
    // and its members' line starts (indentation, quoted key, separator) are made when
    // the first record comes. So a file of one long line costs no memory beyond itself.
    std::size_t rowStart = 0;
    std::size_t headerStart = 0, headerEnd = 0;
    bool haveHeader = false;
    std::vector<std::string> prefixes;
    std::size_t records = 0;
    std::size_t column = 0;  // of the current cell
    bool started = false;    // the current row was found to be no blank line
    bool firstEmpty = false; // the row's first cell was empty (maybe a blank line)

    auto writeValue = [&](std::size_t i, std::string_view cell) {
        if (i >= prefixes.size()) return; // beyond the header: dropped
        if (i > 0) out.append(",\n");
        out.append(prefixes[i]);
        if (isNumberCell(cell))
            out.append(cell);
        else if (wellFormed)
            JSON::appendQuotedUtf8(out, cell);
        else
            JSON::appendQuoted(out, cell);
    };
    auto startRecord = [&] {
        started = true;
        if (records == 0) {
            std::vector<std::string_view> header;
            std::string storage;
            std::vector<std::pair<std::size_t, std::size_t>> spans;
            splitCells(
                text.substr(headerStart, headerEnd - headerStart), delimiter,
                [&](std::string_view cell, bool) {
                    spans.emplace_back(storage.size(), cell.size());
                    storage.append(cell);
                },
                [](std::size_t) {});
            for (const auto& [at, size] : spans)
                header.emplace_back(storage.data() + at, size);
            prefixes = columnNames(header);
            for (std::string& name : prefixes) {
                std::string prefix = "    ";
                JSON::appendQuoted(prefix, name);
                prefix += ": ";
                name = std::move(prefix);
            }
        }
        sink.poll();
        out.append(records++ == 0 ? "[\n  {\n" : ",\n  {\n");
    };
    splitCells(
        text, delimiter,
        [&](std::string_view cell, bool) {
            const std::size_t i = column++;
            if (!haveHeader) {
                if (i > 0 || !cell.empty()) started = true;
                sink.poll(); // a header line may be all the file
                return;
            }
            if (!started) {
                if (i == 0 && cell.empty()) {
                    firstEmpty = true;
                    return;
                }
                startRecord();
                if (firstEmpty) writeValue(0, {});
            }
            writeValue(i, cell);
        },
        [&](std::size_t next) {
            const bool blank = !started;
            if (!haveHeader) {
                if (!blank) {
                    haveHeader = true;
                    headerStart = rowStart;
                    headerEnd = next;
                }
            } else if (!blank) {
                for (std::size_t i = column; i < prefixes.size(); ++i) {
                    out.append(i > 0 ? ",\n" : "");
                    out.append(prefixes[i]);
                    out.append("\"\"");
                }
                out.append("\n  }");
            }
            rowStart = next;
            column = 0;
            started = false;
            firstEmpty = false;
        });
    out.append(records > 0 ? "\n]" : "[]");
}

bool isNumberCell(std::string_view cell) {
    const std::size_t lineBreak = trailingBreak(cell);
    const std::string_view number = cell.substr(0, cell.size() - lineBreak);
    // Characters, not bytes: the number is ASCII and a line break counts as one.
    const std::size_t characters = number.size() + (lineBreak > 0 ? 1 : 0);
    return characters <= 15 && numberText::isStrictJson(number);
}

std::string write(const Node& node, char delimiter) {
    std::string out;
    appendTo(out, node, delimiter);
    return out;
}

void appendTo(std::string& out, const Node& node, char delimiter) {
    Node::Array single;
    const Node::Array* items = &single;
    if (node.isArray()) {
        items = &node.items();
    } else {
        single.push_back(node);
    }
    bool records = true;
    for (const Node& item : *items)
        if (!item.isObject()) records = false;
    if (records) {
        writeRecords(out, *items, delimiter);
        return;
    }
    for (const Node& item : *items)
        appendListLine(out, item, delimiter);
}

void appendCells(std::string& out, const std::vector<const Node*>& cells, char delimiter) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) out.push_back(delimiter);
        if (cells[i]) appendValueCell(out, *cells[i], delimiter);
    }
}

void appendListLine(std::string& out, const Node& item, char delimiter) {
    if (item.isArray()) {
        const Node::Array& cells = item.items();
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (i > 0) out.push_back(delimiter);
            appendValueCell(out, cells[i], delimiter);
        }
    } else {
        appendValueCell(out, item, delimiter);
    }
    out.append("\r\n");
}

} // namespace lumatra::CSV
