#include "image/image_pdf.h"

#include "formats/convert_error.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <memory>

namespace lumatra {
namespace {

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDeleter {
    void operator()(cairo_t* context) const { cairo_destroy(context); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

[[noreturn]] void pdfFailed() {
    throw ConvertError::failed("Не удалось создать PDF");
}

cairo_status_t appendBytes(void* target, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(target)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

// Cairo's pixels: native-endian 32-bit words, premultiplied alpha.
Surface pictureSurface(const vips::VImage& image) {
    const int width = image.width();
    const int height = image.height();
    const bool alpha = image.bands() == 4;
    Surface surface(cairo_image_surface_create(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24,
                                               width, height));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) pdfFailed();
    cairo_surface_flush(surface.get());
    unsigned char* target = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    const auto* source = static_cast<const std::uint8_t*>(VIPS_IMAGE_ADDR(image.get_image(), 0, 0));
    if (!target || !source) pdfFailed();
    const std::size_t bands = static_cast<std::size_t>(image.bands());
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(target + static_cast<std::size_t>(y) * stride);
        const std::uint8_t* in = source + static_cast<std::size_t>(y) * width * bands;
        for (int x = 0; x < width; ++x, in += bands) {
            std::uint32_t r = in[0], g = in[1], b = in[2], a = 255;
            if (alpha) {
                a = in[3];
                r = (r * a + 127) / 255;
                g = (g * a + 127) / 255;
                b = (b * a + 127) / 255;
            }
            row[x] = a << 24 | r << 16 | g << 8 | b;
        }
    }
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

} // namespace

std::string ImagePdf::render(const vips::VImage& image) {
    const double width = image.width();
    const double height = image.height();
    const double scale = std::min(maxPageSide / std::max(width, height), 1.0);
    std::string bytes;
    const Surface picture = pictureSurface(image);
    {
        Surface page(cairo_pdf_surface_create_for_stream(appendBytes, &bytes, width * scale,
                                                         height * scale));
        if (cairo_surface_status(page.get()) != CAIRO_STATUS_SUCCESS) pdfFailed();
        const std::unique_ptr<cairo_t, ContextDeleter> context(cairo_create(page.get()));
        cairo_scale(context.get(), scale, scale);
        cairo_set_source_surface(context.get(), picture.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(context.get()), CAIRO_FILTER_BEST);
        cairo_paint(context.get());
        cairo_show_page(context.get());
        if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS) pdfFailed();
        cairo_surface_finish(page.get());
        if (cairo_surface_status(page.get()) != CAIRO_STATUS_SUCCESS) pdfFailed();
    }
    return bytes;
}

} // namespace lumatra
