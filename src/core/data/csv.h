#pragma once
// The reader and writer of delimited tables (CSV, TSV) over the data tree.

#include "data/node.h"
#include "data/sink.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lumatra::CSV {

using Row = std::vector<std::string>;

/// The separator of the first record (which may span lines inside quotes): whichever of
/// ",", ";" and tab occurs most often outside quotes; "," when none occurs.
char detectDelimiter(std::string_view text);

/// Splits decoded text into rows of cells. Quotes open only at the start of a cell;
/// LF, CR LF and CR end rows; an unclosed quote ends at the end of the text; rows that
/// are one empty cell (blank lines) are left out. Never fails.
std::vector<Row> parse(std::string_view text, char delimiter);

/// As `parse`, handing each row to `onRow` as soon as it is complete, so the rows never
/// need to be held all at once. `onRow` may move the cells out of the row.
void forEachRow(std::string_view text, char delimiter, const std::function<void(Row&)>& onRow);

/// The rows of `parse` as records, without holding all the rows at once: the first row
/// names the columns (as `columnNames` does), each later row becomes an object with one
/// member per column. Cells that are short JSON numbers become number nodes, all others
/// strings.
Node table(std::string_view text, char delimiter);

/// As `table`, handing each record to `onRecord` as soon as its row is read.
void forEachRecord(std::string_view text, char delimiter, const ItemHandler& onRecord);

/// The names of the columns of a header row: an empty cell is named "column" and its
/// 1-based number; a name that occurs again gets the first suffix "_2", "_3"… that no
/// other column has, so every column keeps its values.
Row columnNames(const std::vector<std::string_view>& header);

/// Whether a cell becomes a number: strict JSON number syntax (optionally followed by one
/// line break) and at most 15 characters, so long account numbers stay text.
bool isNumberCell(std::string_view cell);

/// Any tree as a table: records (every item an object) with a header of all keys in order
/// of first appearance, otherwise one line per item. Nested values are compact JSON.
/// Cells with the delimiter, quotes or line breaks are quoted; every line ends in CR LF.
std::string write(const Node& node, char delimiter);

/// As `write`, appending to `out`.
void appendTo(std::string& out, const Node& node, char delimiter);

/// Appends the cell of one value: "true" or "false", the text of a number or string,
/// nothing for null, compact JSON for arrays and objects; quoted when it holds the
/// delimiter, a double quote or a line break.
void appendValueCell(std::string& out, const Node& value, char delimiter);

/// Appends the cells of one record line, joined by the delimiter; a missing value (null
/// pointer) is an empty cell. The line end is not written.
void appendCells(std::string& out, const std::vector<const Node*>& cells, char delimiter);

/// Appends one line of a table that is no list of records: the cells of an array item,
/// or the single cell of any other item, then CR LF.
void appendListLine(std::string& out, const Node& item, char delimiter);

/// Appends a text cell, quoted as `appendValueCell` quotes.
void appendTextCell(std::string& out, std::string_view text, char delimiter);

/// Writes the records of a table as pretty JSON, exactly as the JSON writer renders
/// `table(text, delimiter)`, but cell by cell, without holding the tree or a row.
void appendJson(Sink& sink, std::string_view text, char delimiter);

} // namespace lumatra::CSV
