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
struct RegionDeleter {
    void operator()(VipsRegion* region) const { g_object_unref(region); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

[[noreturn]] void pdfFailed() {
    throw ConvertError::failed("Не удалось создать PDF");
}

// Rows read from libvips at a time: strips of the picture, as its loaders decode them.
constexpr int stripRows = 128;

// Cairo's pixels: native-endian 32-bit words, premultiplied alpha.
Surface pictureSurface(const vips::VImage& image, std::stop_token stop) {
    const int width = image.width();
    const int height = image.height();
    const bool alpha = image.bands() == 4;
    Surface surface(cairo_image_surface_create(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24,
                                               width, height));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) pdfFailed();
    cairo_surface_flush(surface.get());
    unsigned char* target = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    if (!target) pdfFailed();
    const std::unique_ptr<VipsRegion, RegionDeleter> region(vips_region_new(image.get_image()));
    const std::size_t bands = static_cast<std::size_t>(image.bands());
    for (int top = 0; top < height; top += stripRows) {
        if (stop.stop_requested()) throw CancelledError();
        VipsRect strip{0, top, width, std::min(stripRows, height - top)};
        if (vips_region_prepare(region.get(), &strip) != 0) throw vips::VError();
        for (int y = top; y < top + strip.height; ++y) {
            auto* row =
                reinterpret_cast<std::uint32_t*>(target + static_cast<std::size_t>(y) * stride);
            const auto* in =
                reinterpret_cast<const std::uint8_t*>(VIPS_REGION_ADDR(region.get(), 0, y));
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
    }
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

struct Writing {
    const ImagePdf::Sink& sink;
    std::stop_token stop;
    bool stopped = false;
};

// Cairo compresses the picture as it writes it: the stream's writes come all along, so
// a cancel is heard between two of them.
cairo_status_t writeBytes(void* closure, const unsigned char* data, unsigned int length) {
    auto* writing = static_cast<Writing*>(closure);
    if (writing->stop.stop_requested()) writing->stopped = true;
    if (writing->stopped ||
        !writing->sink(std::string_view(reinterpret_cast<const char*>(data), length)))
        return CAIRO_STATUS_WRITE_ERROR;
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

void ImagePdf::render(const vips::VImage& image, const Sink& sink, std::stop_token stop) {
    const double width = image.width();
    const double height = image.height();
    const double scale = std::min(maxPageSide / std::max(width, height), 1.0);
    const Surface picture = pictureSurface(image, stop);
    Writing writing{sink, stop};
    Surface page(
        cairo_pdf_surface_create_for_stream(writeBytes, &writing, width * scale, height * scale));
    if (cairo_surface_status(page.get()) != CAIRO_STATUS_SUCCESS) pdfFailed();
    {
        const std::unique_ptr<cairo_t, ContextDeleter> context(cairo_create(page.get()));
        cairo_scale(context.get(), scale, scale);
        cairo_set_source_surface(context.get(), picture.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(context.get()), CAIRO_FILTER_BEST);
        cairo_paint(context.get());
        cairo_show_page(context.get());
        if (writing.stopped) throw CancelledError();
        if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS) pdfFailed();
    }
    cairo_surface_finish(page.get());
    if (writing.stopped) throw CancelledError();
    if (cairo_surface_status(page.get()) != CAIRO_STATUS_SUCCESS) pdfFailed();
}

} // namespace lumatra
