// The JSON reader on arbitrary bytes: it either fails with its own error or gives a tree
// that both writers render and that reads back equal; streaming to a table agrees with
// the tree.
#include "data/data_converter.h"
#include "data/json.h"
#include "formats/convert_error.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    lumatra::Node tree;
    try {
        tree = lumatra::JSON::parse(bytes);
    } catch (const lumatra::ConvertError&) {
        return 0;
    }
    const std::string pretty = lumatra::JSON::write(tree);
    const std::string compact = lumatra::JSON::write(tree, 0, false);
    if (!(lumatra::JSON::parse(pretty) == tree) || !(lumatra::JSON::parse(compact) == tree))
        std::abort();
    // Streaming JSON to a table gives the very bytes of the tree's table.
    const std::string table = lumatra::DataConverter::write(tree, lumatra::Format::csv);
    if (lumatra::DataConverter::convert(bytes, "json", lumatra::Format::csv) != table) std::abort();
    // So does streaming to a property list, refusals included.
    auto plist = [&](bool streaming) -> std::string {
        try {
            return streaming
                       ? lumatra::DataConverter::convert(bytes, "json", lumatra::Format::plist)
                       : lumatra::DataConverter::write(tree, lumatra::Format::plist);
        } catch (const lumatra::ConvertError& error) {
            return error.errorDescription();
        }
    };
    if (plist(true) != plist(false)) std::abort();
    return 0;
}
