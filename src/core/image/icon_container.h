#pragma once
// Windows (ICO) and macOS (ICNS) icon files: finding the largest picture inside one, and
// putting a set of PNG renditions together into one. The pictures themselves are decoded
// and encoded elsewhere; only the Windows bitmap entries of ICO files, which no image
// library here reads on their own, are decoded in this file.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumatra {

/// One picture inside an icon file, pointing into the file's bytes.
struct IconEntry {
    enum class Encoding { png, jpeg2000, dib };
    Encoding encoding = Encoding::png;
    std::string_view bytes;
    /// Pixel size as the entry declares it; 0 when it does not say.
    int width = 0;
    int height = 0;
};

/// A picture decoded to 8-bit RGBA, rows top first, no padding.
struct RgbaPixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes;
};

/// A rendition to put into an icon file: its side in pixels and its PNG bytes.
struct IconRendition {
    int size = 0;
    std::string png;
};

class IconContainer {
public:
    /// The largest picture of an ICO (or CUR) file; ties go to the entry listed first.
    /// Throws ConvertError ("Не удалось открыть изображение") when the directory is
    /// malformed, points outside the file or holds no usable entry.
    static IconEntry largestIcoEntry(std::string_view file);

    /// The largest PNG or JPEG 2000 picture of an ICNS file; the older packed-pixel
    /// entries are passed over. Throws like largestIcoEntry.
    static IconEntry largestIcnsEntry(std::string_view file);

    /// Decodes an uncompressed Windows bitmap entry of an ICO file (1, 4, 8, 24 or
    /// 32 bits a pixel, with its transparency mask). Throws like largestIcoEntry.
    static RgbaPixels decodeDib(std::string_view dib);

    /// An ICO file holding the renditions in the order given (each at most 256 pixels).
    static std::string writeIco(const std::vector<IconRendition>& renditions);

    /// An ICNS file holding the renditions in the order given; each size must be one an
    /// ICNS file has a PNG slot for (16, 32, 64, 128, 256, 512, 1024).
    static std::string writeIcns(const std::vector<IconRendition>& renditions);
};

} // namespace lumatra
