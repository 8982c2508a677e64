// The table reader on arbitrary bytes, through the same steps a conversion takes; rows
// written by the table writer must read back cell for cell, and streaming must agree
// with the tree.
#include "data/csv.h"
#include "data/data_converter.h"
#include "formats/convert_error.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        const lumatra::Node tree = lumatra::DataConverter::read(bytes, "csv");
        lumatra::DataConverter::write(tree, lumatra::Format::csv);
        // Streaming a table to JSON gives the very bytes of the tree's JSON.
        if (lumatra::DataConverter::write(tree, lumatra::Format::json) !=
            lumatra::DataConverter::convert(bytes, "csv", lumatra::Format::json))
            std::abort();
    } catch (const lumatra::ConvertError&) {
        return 0;
    }

    const char delimiter = lumatra::CSV::detectDelimiter(bytes);
    const auto rows = lumatra::CSV::parse(bytes, delimiter);
    lumatra::Node::Array lines;
    for (const auto& row : rows) {
        lumatra::Node::Array cells;
        for (const auto& cell : row)
            cells.push_back(lumatra::Node::string(cell));
        lines.push_back(lumatra::Node::array(std::move(cells)));
    }
    if (lines.empty()) return 0;
    // With the byte-order mark in front, as files are written, so that a first cell that
    // itself begins with U+FEFF keeps it.
    const std::string written =
        "\xEF\xBB\xBF" + lumatra::CSV::write(lumatra::Node::array(std::move(lines)), delimiter);
    if (lumatra::CSV::parse(written, delimiter) != rows) std::abort();
    return 0;
}
