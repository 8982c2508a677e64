#pragma once
// Data files (JSON, CSV/TSV, property lists) converted through one data tree.

#include "data/node.h"
#include "data/sink.h"
#include "formats/format.h"

#include <filesystem>
#include <stop_token>
#include <string>
#include <string_view>

namespace lumatra::DataConverter {

/// Reads a whole data file; `ext` (lower case) picks the reader: "json", "plist",
/// otherwise a table ("tsv" splits at tabs, anything else detects its delimiter). A table
/// is UTF-8 when nearly all of it is (its few bad bytes become U+FFFD), else Windows-1251.
Node read(std::string_view bytes, std::string_view ext);

/// The output file's bytes for `format` (json, csv or plist); any other target fails
/// with ConvertError::unsupported("данные → <title>").
std::string write(const Node& tree, Format format);

/// `write(read(bytes, ext), format)` into `sink`, with the same bytes and the same
/// failures, but item by item where it can: the elements of a top-level array, and the
/// records of a table, are written as each is read, so memory stays near the size of
/// the input instead of holding the whole tree. Polls the sink (and so its stop token)
/// between items; a cancelled conversion throws CancelledError.
void convert(std::string_view bytes, std::string_view ext, Format format, Sink& sink);

/// As above, into memory.
std::string convert(std::string_view bytes, std::string_view ext, Format format);

/// The data route of a conversion: reads `source`, converts it by its extension and
/// writes a new file at `output` (never replacing an existing item). Failures throw
/// ConvertError or SystemError, a stop CancelledError; `output` is then left for the
/// caller to remove.
void convertFile(const std::filesystem::path& source, const std::filesystem::path& output,
                 Format format, std::stop_token stop);

/// As `convertFile`, writing to `outputFd`, an open descriptor the caller owns (for a file
/// made without a name, say); `output` only names it in error messages.
void convertToDescriptor(const std::filesystem::path& source, int outputFd,
                         const std::filesystem::path& output, Format format, std::stop_token stop);

} // namespace lumatra::DataConverter
