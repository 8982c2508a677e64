#include "pdf/picture_surface.h"

#include "pdf/libraries.h"

#include <vips/vips8>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace lumatra {
namespace {

constexpr double pointsPerPixel = 72.0 / 96.0;

PictureSurface fitted(PictureSurface picture, double maxWidth, double maxHeight) {
    if (picture.width <= 0 || picture.height <= 0) picture.width = picture.height = 12;
    const double scale = std::min({1.0, maxWidth / picture.width, maxHeight / picture.height});
    picture.width *= scale;
    picture.height *= scale;
    return picture;
}

// Premultiplied ARGB, as cairo stores it, from 8-bit RGBA.
SurfacePtr surfaceFrom(const vips::VImage& rgba) {
    const int width = rgba.width();
    const int height = rgba.height();
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    std::size_t size = 0;
    auto* pixels = static_cast<unsigned char*>(rgba.write_to_memory(&size));
    if (!pixels) return nullptr;
    const int stride = cairo_image_surface_get_stride(surface.get());
    unsigned char* data = cairo_image_surface_get_data(surface.get());
    cairo_surface_flush(surface.get());
    for (int y = 0; y < height; ++y) {
        const unsigned char* in = pixels + static_cast<std::size_t>(y) * width * 4;
        auto* out =
            reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < width; ++x, in += 4) {
            const unsigned alpha = in[3];
            const auto premultiply = [alpha](unsigned value) {
                return (value * alpha + 127) / 255;
            };
            out[x] = (alpha << 24) | (premultiply(in[0]) << 16) | (premultiply(in[1]) << 8) |
                     premultiply(in[2]);
        }
    }
    g_free(pixels);
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

} // namespace

PictureSurface makePictureSurface(const InlineImage& image, double maxWidth, double maxHeight) {
    initialisePdfLibraries();
    PictureSurface picture;
    picture.width = image.width;
    picture.height = image.height;
    try {
        vips::VImage decoded =
            vips::VImage::new_from_buffer(image.bytes.data(), image.bytes.size(), "");
        if (static_cast<double>(decoded.width()) * decoded.height() > maxPicturePixels)
            return fitted(std::move(picture), maxWidth, maxHeight);
        if (picture.width <= 0 || picture.height <= 0) {
            picture.width = decoded.width() * pointsPerPixel;
            picture.height = decoded.height() * pointsPerPixel;
        }
        const int sourceBands = decoded.bands();
        vips::VImage rgba = decoded.colourspace(VIPS_INTERPRETATION_sRGB);
        if (rgba.bands() > 4) rgba = rgba.extract_band(0, vips::VImage::option()->set("n", 4));
        if (rgba.bands() == 3) rgba = rgba.bandjoin_const({255});
        rgba = rgba.cast(VIPS_FORMAT_UCHAR);
        picture.surface = surfaceFrom(rgba);
        // The PDF then carries the JPEG itself instead of its decoded pixels.
        if (picture.surface && image.type == InlineImage::Type::jpeg &&
            (sourceBands == 1 || sourceBands == 3)) {
            auto* copy = static_cast<unsigned char*>(std::malloc(image.bytes.size()));
            if (copy) {
                std::memcpy(copy, image.bytes.data(), image.bytes.size());
                if (cairo_surface_set_mime_data(picture.surface.get(), CAIRO_MIME_TYPE_JPEG, copy,
                                                image.bytes.size(), std::free,
                                                copy) != CAIRO_STATUS_SUCCESS)
                    std::free(copy);
            }
        }
    } catch (const vips::VError&) {
        vips_error_clear();
        picture.surface.reset();
    }
    return fitted(std::move(picture), maxWidth, maxHeight);
}

} // namespace lumatra
