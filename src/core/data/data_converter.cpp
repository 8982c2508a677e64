#include "data/data_converter.h"

#include "data/csv.h"
#include "data/json.h"
#include "data/plist_bridge.h"
#include "text/utf8.h"
#include "formats/convert_error.h"

#include <unordered_map>

namespace lumatra::DataConverter {

namespace {

constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

/// Tables are written with ";", which spreadsheet programs expect beside the mark.
constexpr char tableDelimiter = ';';

// The text of a table file: UTF-8, or else the Cyrillic code page Windows-1251.
// `storage` holds the decoded text when it had to be converted.
std::string_view tableText(std::string_view bytes, std::string& storage) {
    if (utf8::isValid(bytes)) return bytes;
    if (!utf8::fromWindows1251(bytes, storage))
        throw ConvertError::failed("Не удалось прочитать текст таблицы");
    return storage;
}

char tableDelimiterOf(std::string_view text, std::string_view ext) {
    return ext == "tsv" ? '\t' : CSV::detectDelimiter(text);
}

// A JSON document as a table, item by item: the records of an array of objects are
// written as they are read, under the columns seen so far; lines written before a
// column first appeared get their missing empty cells at the end. Only a document that
// turns out not to be an array of objects is read a second time.
std::string jsonToTable(std::string_view bytes) {
    std::string body;
    body.reserve(bytes.size() + 1024); // pages that stay unused cost no memory
    std::vector<std::string> columns;
    std::unordered_map<std::string, std::size_t> index;
    struct LineEnd {
        std::size_t at;      // offset of the line's CR LF in `body`
        std::size_t columns; // columns known when the line was written
    };
    std::vector<LineEnd> lineEnds;
    std::vector<const Node*> cells;
    bool records = true;

    const Node root = JSON::parseItems(bytes, [&](Node&& item) {
        if (!records) return;
        if (!item.isObject()) {
            records = false;
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

    std::string out(byteOrderMark);
    if (!root.isArray()) {
        CSV::appendTo(out, root, tableDelimiter);
        return out;
    }
    if (!records) {
        // A table of lists: one line per item, no header.
        body.clear();
        lineEnds = {};
        JSON::parseItems(bytes,
                         [&](Node&& item) { CSV::appendListLine(body, item, tableDelimiter); });
        body.insert(0, out);
        return body;
    }

    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) out.push_back(tableDelimiter);
        CSV::appendTextCell(out, columns[i], tableDelimiter);
    }
    out.append("\r\n");
    const bool complete = lineEnds.empty() || lineEnds.front().columns == columns.size();
    if (complete) {
        body.insert(0, out);
        return body;
    }
    out.reserve(out.size() + body.size() + lineEnds.size());
    std::size_t from = 0;
    for (const LineEnd& line : lineEnds) {
        out.append(body, from, line.at - from);
        out.append(columns.size() - line.columns, tableDelimiter);
        from = line.at;
    }
    out.append(body, from);
    return out;
}

} // namespace

Node read(std::string_view bytes, std::string_view ext) {
    if (ext == "json") return JSON::parse(bytes);
    if (ext == "plist") return Plist::read(bytes);
    std::string storage;
    const std::string_view text = tableText(bytes, storage);
    return CSV::table(text, tableDelimiterOf(text, ext));
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

std::string convert(std::string_view bytes, std::string_view ext, Format format) {
    if (ext == "json" && format == Format::csv) return jsonToTable(bytes);
    if (ext != "json" && ext != "plist" && format == Format::json) {
        std::string storage;
        const std::string_view text = tableText(bytes, storage);
        std::string out;
        CSV::appendJson(out, text, tableDelimiterOf(text, ext));
        out.push_back('\n');
        return out;
    }
    return write(read(bytes, ext), format);
}

} // namespace lumatra::DataConverter
