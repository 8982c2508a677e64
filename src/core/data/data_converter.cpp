#include "data/data_converter.h"

#include "data/csv.h"
#include "data/json.h"
#include "data/plist_binary.h"
#include "data/plist_bridge.h"
#include "data/plist_writer.h"
#include "data/plist_xml.h"
#include "formats/convert_error.h"
#include "text/utf8.h"

#include <algorithm>
#include <unordered_map>

namespace lumatra::DataConverter {

namespace {

constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

/// Tables are written with ";", which spreadsheet programs expect beside the mark.
constexpr char tableDelimiter = ';';

// The text of a table file: UTF-8, or else the Cyrillic code page Windows-1251. `storage`
// holds the text when it had to be repaired or converted.
//
// Where the line is drawn: Windows-1251 text almost never forms a well-formed UTF-8
// sequence (only a capital letter directly before one of the rare bytes 80–BF does), while
// nearly every one of its letters breaks one. So a file with at least four well-formed
// multi-byte sequences for every ill-formed one is UTF-8 with a few damaged bytes: it is
// read as UTF-8 and only those bytes become U+FFFD.
//
// A zero byte is no character of a text table in either encoding: such a file is binary,
// or UTF-16, and is refused rather than read as cells full of zeros. Other control
// characters stay in the cells (spreadsheets write a vertical tab for a line break).
std::string_view decodeTable(std::string_view bytes, std::string& storage) {
    if (bytes.find('\0') != std::string_view::npos)
        throw ConvertError::failed("Не удалось прочитать текст таблицы");
    const utf8::Tally tally = utf8::tally(bytes);
    if (tally.illFormed == 0) return bytes;
    if (tally.multiByte >= 4 * tally.illFormed) {
        storage.reserve(bytes.size() + 2 * tally.illFormed);
        utf8::appendRepaired(storage, bytes);
        return storage;
    }
    if (!utf8::fromWindows1251(bytes, storage))
        throw ConvertError::failed("Не удалось прочитать текст таблицы");
    return storage;
}

bool isTable(std::string_view ext) {
    return ext != "json" && ext != "plist";
}

// One source, read item by item: the elements of a top-level array, or a table's records.
class Source {
public:
    Source(std::string_view bytes, std::string_view ext, std::stop_token stop)
        : m_bytes(bytes), m_ext(ext), m_stop(std::move(stop)) {
        if (!isTable(ext)) return;
        m_text = decodeTable(bytes, m_storage);
        m_delimiter = ext == "tsv" ? '\t' : CSV::detectDelimiter(m_text);
    }

    std::string_view bytes() const { return m_bytes; }
    const std::stop_token& stop() const { return m_stop; }
    std::string_view tableText() const { return m_text; }

    bool isPlist() const { return m_ext == "plist"; }
    bool isBinaryPlist() const { return m_ext == "plist" && Plist::isBinary(m_bytes); }

    /// Whether the source is a JSON document whose top value is an object.
    bool isJsonObject() const {
        if (m_ext != "json") return false;
        std::string_view rest = m_bytes;
        if (rest.starts_with(byteOrderMark)) rest.remove_prefix(byteOrderMark.size());
        const std::size_t at = rest.find_first_not_of(" \t\r\n");
        return at != std::string_view::npos && rest[at] == '{';
    }
    char delimiter() const { return m_delimiter; }

    /// The document; when it is an array (a table always is) its elements go to
    /// `onItem` and it comes back empty. May be called again for a second pass.
    Node read(const ItemHandler& onItem) const {
        Node root;
        if (m_ext == "json") {
            root = JSON::parseItems(m_bytes, onItem, m_stop);
        } else if (m_ext == "plist") {
            root = Plist::readItems(m_bytes, &onItem, m_stop);
        } else {
            CSV::forEachRecord(m_text, m_delimiter, onItem);
            return Node::array();
        }
        // An array that a reader gave whole goes the same way as one it streamed.
        if (root.isArray() && !root.items().empty()) {
            Node::Array items = std::move(root.items());
            root = Node::array();
            for (Node& item : items)
                onItem(std::move(item));
        }
        return root;
    }

private:
    std::string_view m_bytes;
    std::string_view m_ext;
    std::stop_token m_stop;
    std::string m_storage;
    std::string_view m_text;
    char m_delimiter = ',';
};

// A property list as JSON, with a dictionary at the top written member by member and the
// elements of arrays in its members (or of an array at the top) as each is read. Answers
// false, having written nothing, when the tree must do it: a binary list whose top is no
// dictionary, or an XML one whose top keys are out of order.
bool writeDictionaryAsJson(const Source& source, Sink& sink) {
    std::string& out = sink.text();
    std::size_t members = 0;
    std::size_t items = 0;
    Plist::MemberHandlers handlers;
    handlers.onKey = [&](std::string&& key) {
        out.append(members++ == 0 ? "{\n  " : ",\n  ");
        JSON::appendQuoted(out, key);
        out.append(": ");
        items = 0;
    };
    handlers.onValue = [&](Node&& value) { JSON::writeTo(sink, value, 1); };
    handlers.onItem = [&](Node&& item) {
        out.append(items++ == 0 ? "[\n    " : ",\n    ");
        JSON::writeTo(sink, item, 2);
    };
    handlers.onArrayEnd = [&] { out.append(items == 0 ? "[]" : "\n  ]"); };
    if (source.isBinaryPlist()) {
        if (!Plist::readBinaryMembers(source.bytes(), handlers, source.stop())) return false;
        out.append(members == 0 ? "{}" : "\n}");
        return true;
    }
    // XML: elements of a top array are handed out too; a top dictionary whose keys are
    // not in order is read again into the tree, which sorts them.
    std::size_t topItems = 0;
    const ItemHandler onItem = [&](Node&& item) {
        out.append(topItems++ == 0 ? "[\n  " : ",\n  ");
        JSON::writeTo(sink, item, 1);
    };
    bool streamed = false;
    Node root;
    try {
        root = Plist::readXmlMembers(source.bytes(), &onItem, handlers, streamed, source.stop());
    } catch (const Plist::UnsortedKeys&) {
        sink.rewind();
        return false;
    }
    if (streamed)
        out.append(members == 0 ? "{}" : "\n}");
    else if (topItems > 0)
        out.append("\n]");
    else
        JSON::writeTo(sink, root, 0);
    return true;
}

void writeJson(const Source& source, Sink& sink) {
    if (source.isPlist() && writeDictionaryAsJson(source, sink)) {
        sink.text().push_back('\n');
        return;
    }
    std::size_t items = 0;
    const Node root = source.read([&](Node&& item) {
        sink.text().append(items++ == 0 ? "[\n  " : ",\n  ");
        JSON::writeTo(sink, item, 1);
    });
    if (items > 0)
        sink.text().append("\n]");
    else
        JSON::writeTo(sink, root, 0);
    sink.text().push_back('\n');
}

// A JSON object at the top, as a dictionary: its members are found first without keeping
// their values, then written in key order from their places in the input, arrays item by
// item. So an object that wraps one long list costs no more than the list alone.
void writeJsonObjectAsPlist(const Source& source, Plist::PlistWriter& writer) {
    struct Member {
        std::string key;
        JSON::Span span;
    };
    std::vector<Member> members;
    JSON::parseMembers(
        source.bytes(),
        [&](std::string&& key, JSON::Span span) {
            members.push_back({std::move(key), span});
        },
        source.stop());
    std::stable_sort(members.begin(), members.end(),
                     [](const Member& a, const Member& b) { return a.key < b.key; });
    std::vector<const Member*> kept; // of a repeated key, the last occurrence
    for (std::size_t i = 0; i < members.size(); ++i)
        if (i + 1 == members.size() || members[i].key != members[i + 1].key)
            kept.push_back(&members[i]);
    writer.beginDict(kept.empty());
    for (const Member* member : kept) {
        writer.key(member->key);
        const std::string_view value =
            source.bytes().substr(member->span.begin, member->span.end - member->span.begin);
        std::size_t items = 0;
        writer.beginArray(1);
        const Node node = JSON::parseItems(
            value,
            [&](Node&& item) {
                ++items;
                writer.item(item);
            },
            source.stop());
        if (items > 0)
            writer.endArray();
        else
            writer.value(node, 1);
    }
    writer.endDict();
}

void writePlist(const Source& source, Sink& sink) {
    Plist::PlistWriter writer(sink);
    writer.begin();
    if (source.isJsonObject()) {
        writeJsonObjectAsPlist(source, writer);
        writer.end();
        return;
    }
    std::size_t items = 0;
    writer.beginArray();
    const Node root = source.read([&](Node&& item) {
        ++items;
        writer.item(item);
    });
    if (items > 0)
        writer.endArray();
    else
        writer.value(root);
    writer.end();
}

// A document as a table, item by item: the records of an array of objects are written as
// they are read, under the columns seen so far; lines written before a column first
// appeared get their missing empty cells at the end. Only a document that turns out not
// to be an array of objects is read a second time, as a table of lists.
void writeTable(const Source& source, std::size_t sizeHint, Sink& sink) {
    std::string body;
    body.reserve(sizeHint + 1024); // pages that stay unused cost no memory
    std::vector<std::string> columns;
    std::unordered_map<std::string, std::size_t> index;
    struct LineEnd {
        std::size_t at;      // offset of the line's CR LF in `body`
        std::size_t columns; // columns known when the line was written
    };
    std::vector<LineEnd> lineEnds;
    std::vector<const Node*> cells;
    bool records = true;

    const Node root = source.read([&](Node&& item) {
        sink.poll();
        if (!records) return;
        if (!item.isObject()) {
            records = false;
            body = {};
            lineEnds = {};
            return;
        }
        cells.assign(columns.size(), nullptr);
        const Node::Object& members = item.members();
        for (std::size_t i = 0; i < members.size(); ++i) {
            std::size_t column = i;
            if (i >= columns.size() || columns[i] != members[i].first) {
                const auto [at, added] = index.try_emplace(members[i].first, columns.size());
                if (added) {
                    columns.push_back(members[i].first);
                    cells.push_back(nullptr);
                }
                column = at->second;
            }
            cells[column] = &members[i].second; // a repeated key: the last value wins
        }
        CSV::appendCells(body, cells, tableDelimiter);
        lineEnds.push_back({body.size(), columns.size()});
        body.append("\r\n");
    });

    std::string& out = sink.text();
    out.append(byteOrderMark);
    if (!root.isArray()) {
        CSV::appendTo(out, root, tableDelimiter);
        return;
    }
    if (!records) {
        // A table of lists: one line per item, no header.
        source.read([&](Node&& item) {
            sink.poll();
            CSV::appendListLine(out, item, tableDelimiter);
        });
        return;
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) out.push_back(tableDelimiter);
        CSV::appendTextCell(out, columns[i], tableDelimiter);
    }
    out.append("\r\n");
    if (lineEnds.empty() || lineEnds.front().columns == columns.size()) {
        sink.appendLarge(body);
        return;
    }
    std::size_t from = 0;
    for (const LineEnd& line : lineEnds) {
        sink.poll();
        out.append(body, from, line.at - from);
        out.append(columns.size() - line.columns, tableDelimiter);
        from = line.at;
    }
    out.append(body, from);
}

} // namespace

Node read(std::string_view bytes, std::string_view ext) {
    if (ext == "json") return JSON::parse(bytes);
    if (ext == "plist") return Plist::read(bytes);
    std::string storage;
    const std::string_view text = decodeTable(bytes, storage);
    return CSV::table(text, ext == "tsv" ? '\t' : CSV::detectDelimiter(text));
}

std::string write(const Node& tree, Format format) {
    std::string out;
    if (format == Format::json) {
        JSON::appendTo(out, tree);
        out.push_back('\n');
        return out;
    }
    if (format == Format::csv) {
        out = byteOrderMark;
        CSV::appendTo(out, tree, tableDelimiter);
        return out;
    }
    if (format == Format::plist) return Plist::writeXml(tree);
    throw ConvertError::unsupported("данные → " + std::string(title(format)));
}

void convert(std::string_view bytes, std::string_view ext, Format format, Sink& sink) {
    if (format != Format::json && format != Format::csv && format != Format::plist) {
        sink.text() = write(read(bytes, ext), format); // fails as `write` does
        return;
    }
    const Source source(bytes, ext, sink.stopToken());
    if (format == Format::json && isTable(ext)) {
        CSV::appendJson(sink, source.tableText(), source.delimiter());
        sink.text().push_back('\n');
    } else if (format == Format::json) {
        writeJson(source, sink);
    } else if (format == Format::csv) {
        writeTable(source, bytes.size(), sink);
    } else {
        writePlist(source, sink);
    }
}

std::string convert(std::string_view bytes, std::string_view ext, Format format) {
    Sink sink;
    convert(bytes, ext, format, sink);
    return std::move(sink.text());
}

} // namespace lumatra::DataConverter
