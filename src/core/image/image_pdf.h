#pragma once
// A one-page PDF holding one picture, drawn with cairo.

#include <vips/vips8>

#include <string>

namespace lumatra {

class ImagePdf {
public:
    /// The longest side of the page in points: the long side of an A4 sheet.
    static constexpr double maxPageSide = 842;

    /// The PDF's bytes: one page of the picture's size in points (one pixel, one point),
    /// scaled down so that its longer side is at most maxPageSide; smaller pictures are
    /// not enlarged. `image` is 8-bit sRGB with 3 or 4 bands, held in memory. Throws
    /// ConvertError "Не удалось создать PDF" when cairo fails.
    static std::string render(const vips::VImage& image);
};

} // namespace lumatra
