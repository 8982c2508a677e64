#pragma once
// HEIC (HEVC) and AVIF (AV1) files through libheif, with the photograph's EXIF and IPTC
// data. libvips' own HEIF saver offers no encoder speed for HEVC and drops IPTC, hence
// this writer.

#include "formats/format.h"

#include <vips/vips8>

#include <stop_token>
#include <string>

namespace lumatra {

class HeifWriter {
public:
    enum class Codec { hevc, av1 };

    /// Whether libheif has an encoder for `codec` here.
    static bool canEncode(Codec codec);

    /// Encodes `image` (8-bit sRGB, 3 or 4 bands, in memory) and returns the file's bytes.
    /// `exif` is a libvips EXIF block, stored with its orientation set to upright; `iptc`
    /// a libvips IPTC block, stored as libheif proposes ("iptc" item of the IIM stream).
    /// Throws ConvertError "Не удалось записать <title>" when encoding fails.
    static std::string encode(const vips::VImage& image, Codec codec, Quality quality,
                              const std::string& exif, const std::string& iptc,
                              std::string_view title);
};

/// The EXIF block with its orientation tag (if any) set to 1; other bytes unchanged. A
/// block that cannot be walked comes back as it was.
std::string exifWithUprightOrientation(std::string exif);

/// The IPTC IIM stream inside a libvips IPTC block (a Photoshop resource block, or an
/// IIM stream already); empty when there is none.
std::string iptcStream(std::string_view block);

} // namespace lumatra
