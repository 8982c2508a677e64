#pragma once
// Inline pictures as cairo surfaces for drawing into a PDF.

#include "richtext/attributed_text.h"

#include <cairo.h>

#include <memory>

namespace lumatra {

/// Pictures larger than this many pixels are not drawn.
inline constexpr double maxPicturePixels = 40.0 * 1024 * 1024;

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

/// A decoded picture and the size it is shown at.
struct PictureSurface {
    SurfacePtr surface; // null when the bytes could not be decoded
    double width = 0;   // points
    double height = 0;
};

/// Decodes `image` (PNG or JPEG). Its size is the one the text asks for, else its
/// pixels at 96 per inch, shrunk in proportion to fit `maxWidth` × `maxHeight`. A JPEG
/// keeps its original bytes so that the PDF embeds them as they are. Never fails: a
/// picture that cannot be decoded gives a null surface with a small placeholder size.
PictureSurface makePictureSurface(const InlineImage& image, double maxWidth, double maxHeight);

} // namespace lumatra
