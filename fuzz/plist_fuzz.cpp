// The property-list bridge on arbitrary bytes (XML and binary): it fails with its own
// error or gives a tree that is written as XML and JSON and reads back.
#include "data/data_converter.h"
#include "formats/convert_error.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        const lumatra::Node tree = lumatra::DataConverter::read(bytes, "plist");
        lumatra::DataConverter::write(tree, lumatra::Format::json);
        const std::string xml = lumatra::DataConverter::write(tree, lumatra::Format::plist);
        lumatra::DataConverter::read(xml, "plist");
    } catch (const lumatra::ConvertError&) {
    }
    return 0;
}
