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

    /// What a photograph says about itself, as libvips holds it.
    struct Metadata {
        std::string exif; // stored with its orientation set to upright
        std::string iptc; // stored as libheif proposes ("iptc" item of the IIM stream)
        std::string xmp;  // stored as the XMP item, which photo software reads
    };

    /// Encodes `image` (8-bit sRGB, 3 or 4 bands, in memory) and returns the file's bytes.
    /// With `sizeBelow` above 0, an HEVC file that does not come out smaller is encoded
    /// again at lower qualities (twice at most). Throws ConvertError "Не удалось записать
    /// <title>" when encoding fails.
    static std::string encode(const vips::VImage& image, Codec codec, Quality quality,
                              const Metadata& metadata, std::string_view title,
                              std::size_t sizeBelow = 0);

    /// The encoder quality (0–100) for `quality`. HEVC reaches a JPEG's fidelity with far
    /// fewer bits, so its scale sits lower: 60, 50 and 40 match the mean error of JPEG at
    /// 95, 85 and 65 on photographs in about half to four fifths of the bytes. AV1 takes
    /// the JPEG scale.
    static int encoderQuality(Codec codec, Quality quality);
};

/// The EXIF block with its orientation tag (if any) set to 1; other bytes unchanged. A
/// block that cannot be walked comes back as it was.
std::string exifWithUprightOrientation(std::string exif);

/// The IPTC IIM stream inside a libvips IPTC block (a Photoshop resource block, or an
/// IIM stream already); empty when there is none.
std::string iptcStream(std::string_view block);

} // namespace lumatra
