#pragma once
// A one-page PDF holding one picture, drawn with cairo.

#include <vips/vips8>

#include <functional>
#include <stop_token>
#include <string_view>

namespace lumatra {

class ImagePdf {
public:
    /// The longest side of the page in points: the long side of an A4 sheet.
    static constexpr double maxPageSide = 842;

    /// Receives the PDF's bytes as they are made; false stops the work.
    using Sink = std::function<bool(std::string_view bytes)>;

    /// Writes one page of the picture's size in points (one pixel, one point), scaled down
    /// so that its longer side is at most maxPageSide; smaller pictures are not enlarged.
    /// `image` is 8-bit sRGB with 3 or 4 bands; it is read once, top to bottom, and held
    /// once, as cairo's pixels. Throws CancelledError when `stop` is requested, ConvertError
    /// "Не удалось создать PDF" when cairo fails or `sink` refuses bytes, and vips::VError
    /// when the picture cannot be read.
    static void render(const vips::VImage& image, const Sink& sink, std::stop_token stop = {});
};

} // namespace lumatra
