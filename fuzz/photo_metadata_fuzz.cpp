// The readers of picture metadata and layer directories on arbitrary bytes: IPTC to XMP
// (the stream merged into the same bytes taken as an XMP packet), the AFCP trailer and
// the XCF layer directory must never read outside the file, and what they give must be
// bounded by it; the bytes taken as an EXIF block are added to a small TIFF file, which
// must stay readable.
#include "formats/convert_error.h"
#include "image/image_io.h"
#include "image/iptc_xmp.h"
#include "image/tiff_exif.h"
#include "image/xcf_layers.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// A 2 × 2 TIFF as libvips writes one.
const std::string& smallTiff() {
    static const std::string tiff = [] {
        lumatra::startVips();
        void* data = nullptr;
        std::size_t length = 0;
        vips::VImage::black(2, 2, vips::VImage::option()->set("bands", 3))
            .write_to_buffer(".tif", &data, &length);
        std::string bytes(static_cast<const char*>(data), length);
        g_free(data);
        return bytes;
    }();
    return tiff;
}

void addExif(const std::string& exif) {
    static const std::filesystem::path folder = [] {
        char name[] = "/tmp/photo-metadata-fuzz-XXXXXX";
        return std::filesystem::path(::mkdtemp(name));
    }();
    const auto path = folder / "out.tiff";
    try {
        lumatra::OutputFile output(path, "write");
        output.write(smallTiff());
        lumatra::addExifToTiff(output, exif);
        output.finish();
    } catch (const lumatra::ConvertError&) {
        return; // refused, and removed
    }
    const vips::VImage image = vips::VImage::new_from_file(path.c_str());
    if (image.width() != 2 || image.height() != 2) std::abort();
    std::filesystem::remove(path);
}

} // namespace

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
    addExif(file);
    return 0;
}
