#pragma once
// Camera RAW files through LibRaw: demosaiced to 16-bit sRGB, turned upright by the
// orientation the camera recorded.

#include <vips/vips8>

#include <cstdint>
#include <stop_token>
#include <string>

namespace lumatra {

class RawDecoder {
public:
    /// Decodes the RAW file at `path`, of `fileSize` bytes, into an upright 3-band 16-bit
    /// sRGB image held in memory. Throws "Не удалось открыть изображение" for a file
    /// LibRaw cannot read (including camera bodies newer than it knows), one whose
    /// sensor data is cut short or damaged, or one of more than `maxPixels`, and
    /// CancelledError when `stop` is requested.
    static vips::VImage decode(const std::string& path, std::int64_t fileSize,
                               std::int64_t maxPixels, std::stop_token stop);
};

} // namespace lumatra
