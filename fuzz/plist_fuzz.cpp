// The property-list readers on arbitrary bytes (XML and binary): each fails with its own
// error or gives a tree; the XML written from that tree reads back and writes again to
// the very same bytes; streaming to every target gives the bytes of the tree's output.
// Run it with the tag dictionary and inputs of several megabytes:
//   plist_fuzz -dict=fuzz/plist.dict -max_len=4000000 CORPUS fuzz/corpus/plist SEEDS
#include "data/data_converter.h"
#include "data/plist_bridge.h"
#include "formats/convert_error.h"

#include <cstdint>
#include <cstdlib>

namespace {

using namespace lumatra;

std::string outcome(std::string_view bytes, Format format, bool streaming) {
    try {
        if (streaming) return DataConverter::convert(bytes, "plist", format);
        return DataConverter::write(DataConverter::read(bytes, "plist"), format);
    } catch (const ConvertError& error) {
        return "error: " + error.errorDescription();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Node tree;
    try {
        tree = DataConverter::read(bytes, "plist");
    } catch (const ConvertError&) {
        return 0;
    }
    for (const Format format : {Format::json, Format::csv, Format::plist})
        if (outcome(bytes, format, true) != outcome(bytes, format, false)) std::abort();
    std::string xml;
    try {
        xml = Plist::writeXml(tree);
    } catch (const ConvertError&) {
        return 0; // a character XML cannot carry
    }
    if (Plist::writeXml(DataConverter::read(xml, "plist")) != xml) std::abort();
    return 0;
}
