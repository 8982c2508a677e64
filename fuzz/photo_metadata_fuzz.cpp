// The readers of picture metadata and layer directories on arbitrary bytes: IPTC to XMP
// (the stream merged into the same bytes taken as an XMP packet), the AFCP trailer and
// the XCF layer directory must never read outside the file, and what they give must be
// bounded by it.
#include "image/iptc_xmp.h"
#include "image/xcf_layers.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    const auto readAt = [&file](std::uint64_t offset, std::size_t count) -> std::string {
        if (offset >= file.size()) return {};
        return file.substr(static_cast<std::size_t>(offset), count);
    };
    const std::string xmp = lumatra::IptcXmp::mergedXmp(file, {});
    // Escaping makes a byte at most six; the packet's frame is short.
    if (xmp.size() > 6 * size + 4096) std::abort();
    lumatra::IptcXmp::mergedXmp(file, file);
    const std::string iim = lumatra::IptcXmp::afcpIptc(readAt, file.size());
    if (iim.size() > size) std::abort();
    const auto xcf = lumatra::Xcf::readLayers(readAt);
    if (xcf && (xcf->layers.empty() || xcf->layers.size() > lumatra::Xcf::maxLayers)) std::abort();
    return 0;
}
