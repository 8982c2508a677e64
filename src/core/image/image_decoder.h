#pragma once
// Opening every still-image source the catalog accepts: the first picture, upright, as
// 8-bit sRGB, with the photographic metadata kept aside for the lossy encoders.

#include "image/image_io.h"

#include <vips/vips8>

#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>

namespace lumatra {

/// A source's first picture, ready for every encoder.
struct DecodedImage {
    /// Upright, 8 bits a sample, sRGB, 3 bands or 4 when it has transparency. It may
    /// still be computed lazily from the source file as it is read.
    vips::VImage image;
    /// The same picture for lossless targets: grey (1 band, or 2 with transparency) and
    /// 16-bit sources keep their model and depth; otherwise `image` itself.
    vips::VImage lossless;
    /// The source's EXIF block (with its GPS directory) as libvips holds it
    /// ("Exif\0\0" and a TIFF structure); empty when there is none.
    std::string exif;
    /// The source's IPTC block as libvips holds it (Photoshop image resources); empty
    /// when there is none. A JPEG's AFCP trailer counts when APP13 holds none.
    std::string iptc;
    /// The source's XMP packet; empty when there is none.
    std::string xmp;
    /// Bytes per pixel the decoder holds while the picture is read: none for the formats
    /// read in strips, the whole frame (and the library's own copy) for the others.
    double bytesPerPixel = 0;
};

class ImageDecoder {
public:
    /// The most pixels a source may claim. Icons and PDF pages need the whole picture in
    /// memory (4 bytes a pixel: 1.2 GB at this limit), and the largest real photographs
    /// and scans stay well below it (medium-format backs reach 150 million, phones 200
    /// million); a file claiming more is far more likely a decompression bomb.
    static constexpr std::int64_t maxPixels = 300'000'000;

    /// Decodes `source` (whose name ended in `extension`, lower case). Which decoder
    /// reads it is decided by its first bytes, the extension only for camera RAW, TGA and
    /// SVG, which have no signature of their own. GIMP images (XCF up to version 3) come
    /// out as GIMP shows them, their visible layers stacked. Throws "Не удалось открыть
    /// изображение" for anything unreadable or truncated, with ": формат файла не
    /// распознан" or ": файл пуст" when that is why, the text of
    /// PictureMemory::tooLargeText for a picture claiming more than maxPixels (or more
    /// than its decoder may hold), and CancelledError when `stop` is requested.
    static DecodedImage decode(const SourceFile& source, std::string_view extension,
                               std::stop_token stop);
};

} // namespace lumatra
