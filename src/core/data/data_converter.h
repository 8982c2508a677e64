#pragma once
// Data files (JSON, CSV/TSV, property lists) converted through one data tree.

#include "data/node.h"
#include "formats/format.h"

#include <string>
#include <string_view>

namespace lumatra::DataConverter {

/// Reads a whole data file; `ext` (lower case) picks the reader: "json", "plist",
/// otherwise a table ("tsv" splits at tabs, anything else detects its delimiter).
Node read(std::string_view bytes, std::string_view ext);

/// The output file's bytes for `format` (json, csv or plist); any other target fails
/// with ConvertError::unsupported("данные → <title>").
std::string write(const Node& tree, Format format);

/// `write(read(bytes, ext), format)` with the same bytes and the same failures, but
/// tables to JSON and JSON to tables are converted record by record, so memory stays
/// near the sizes of the input and the output instead of holding the whole tree.
std::string convert(std::string_view bytes, std::string_view ext, Format format);

} // namespace lumatra::DataConverter
