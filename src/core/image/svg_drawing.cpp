#include "image/svg_drawing.h"

#include "formats/convert_error.h"

#include <cairo.h>
#include <librsvg/rsvg.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>

namespace lumatra::SvgDrawing {
namespace {

constexpr std::size_t maxTextBytes = 64 << 20;

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

double octavesOf(std::string_view tag) {
    double octaves = 1;
    if (const std::size_t key = tag.find("numOctaves"); key != std::string_view::npos) {
        const std::size_t digits = tag.find_first_of("0123456789", key);
        if (digits != std::string_view::npos)
            std::from_chars(tag.data() + digits, tag.data() + tag.size(), octaves);
    }
    return std::max(octaves, 1.0);
}

// Cairo's premultiplied native-endian words become straight RGBA bytes, in place.
void toStraightRgba(cairo_surface_t* surface) {
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
        unsigned char* row = data + static_cast<std::size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            std::uint32_t pixel;
            std::memcpy(&pixel, row + 4 * x, 4);
            const std::uint32_t a = pixel >> 24;
            std::uint32_t r = pixel >> 16 & 0xFF, g = pixel >> 8 & 0xFF, b = pixel & 0xFF;
            if (a > 0 && a < 255) {
                r = (r * 255 + a / 2) / a;
                g = (g * 255 + a / 2) / a;
                b = (b * 255 + a / 2) / a;
            }
            row[4 * x] = static_cast<unsigned char>(std::min<std::uint32_t>(r, 255));
            row[4 * x + 1] = static_cast<unsigned char>(std::min<std::uint32_t>(g, 255));
            row[4 * x + 2] = static_cast<unsigned char>(std::min<std::uint32_t>(b, 255));
            row[4 * x + 3] = static_cast<unsigned char>(a);
        }
    }
}

} // namespace

std::optional<std::string> text(const SourceFile& source) {
    std::string bytes = source.head(maxTextBytes + 1);
    if (bytes.size() > maxTextBytes) return std::nullopt;
    if (!bytes.starts_with("\x1F\x8B")) return bytes;
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return std::nullopt;
    std::string unpacked;
    std::string buffer(1 << 16, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(bytes.data());
    stream.avail_in = static_cast<uInt>(bytes.size());
    int status = Z_OK;
    while (status == Z_OK && unpacked.size() <= maxTextBytes) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = static_cast<uInt>(buffer.size());
        status = inflate(&stream, Z_NO_FLUSH);
        unpacked.append(buffer.data(), buffer.size() - stream.avail_out);
    }
    inflateEnd(&stream);
    if (unpacked.size() > maxTextBytes) return std::nullopt;
    return unpacked;
}

double filterCost(const std::optional<std::string>& text) {
    if (!text) return 16;
    const std::string_view svg(*text);
    double cost = 0;
    for (std::size_t at = svg.find('<'); at != std::string_view::npos; at = svg.find('<', at + 1)) {
        // An element's name, its namespace prefix (svg:feBlend) aside.
        std::size_t name = at + 1;
        const std::size_t stop = svg.find_first_of(":> \t\r\n/", name);
        if (stop != std::string_view::npos && svg[stop] == ':') name = stop + 1;
        if (svg.substr(name, 2) != "fe" || name + 2 >= svg.size() ||
            !std::isupper(static_cast<unsigned char>(svg[name + 2])))
            continue;
        const std::string_view element =
            svg.substr(name, svg.find_first_of("> \t\r\n/", name) - name);
        if (element == "feTurbulence")
            cost += 4 * octavesOf(svg.substr(name, svg.find('>', name) - name));
        else if (element == "feGaussianBlur" || element == "feDropShadow")
            cost += 3;
        else if (element == "feConvolveMatrix" || element == "feMorphology" ||
                 element == "feDiffuseLighting" || element == "feSpecularLighting")
            cost += 8;
        else if (!element.starts_with("feFunc") && element != "feMergeNode" &&
                 !element.ends_with("Light"))
            cost += 1;
    }
    return cost;
}

vips::VImage renderWhole(const std::string& text, int width, int height, double cost,
                         std::stop_token stop) {
    const auto limit = static_cast<std::int64_t>(maxFilterWork / (1 + cost));
    if (static_cast<std::int64_t>(width) * height > limit)
        throw ConvertError::failed(
            "Рисунок SVG с фильтрами слишком большой: " + std::to_string(width) + " × " +
            std::to_string(height) + " пикселей, с его фильтрами можно не больше " +
            std::to_string(std::max<std::int64_t>((limit + 500'000) / 1'000'000, 1)) + " Мп");
    // The drawing runs aside and owns what it draws into; a cancel leaves it to end.
    struct Drawing {
        std::string text;
        Surface surface;
    };
    auto drawing = std::make_shared<Drawing>();
    drawing->text = text;
    runStoppable(
        [drawing, width, height] {
            Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
            if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) throwUnreadableImage();
            // Read from memory, without a folder of its own: references to other files
            // lead nowhere.
            GError* error = nullptr;
            RsvgHandle* handle =
                rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(drawing->text.data()),
                                          drawing->text.size(), &error);
            if (!handle) {
                g_clear_error(&error);
                throwUnreadableImage();
            }
            cairo_t* context = cairo_create(surface.get());
            const RsvgRectangle viewport{0, 0, static_cast<double>(width),
                                         static_cast<double>(height)};
            const bool drawn = rsvg_handle_render_document(handle, context, &viewport, &error);
            cairo_destroy(context);
            g_object_unref(handle);
            g_clear_error(&error);
            if (!drawn) throwUnreadableImage();
            cairo_surface_flush(surface.get());
            toStraightRgba(surface.get());
            drawing->surface = std::move(surface);
            return std::string();
        },
        stop, maxRenderTime, "Рисунок SVG рисуется слишком долго");
    // The picture's pixels stay in the surface, which goes when the picture closes.
    cairo_surface_t* surface = drawing->surface.release();
    const int stride = cairo_image_surface_get_stride(surface);
    VipsImage* image = vips_image_new_from_memory(cairo_image_surface_get_data(surface),
                                                  static_cast<std::size_t>(stride) * height,
                                                  stride / 4, height, 4, VIPS_FORMAT_UCHAR);
    if (!image) {
        cairo_surface_destroy(surface);
        throwUnreadableImage();
    }
    g_signal_connect(image, "close", G_CALLBACK(+[](VipsImage*, cairo_surface_t* owned) {
                         cairo_surface_destroy(owned);
                     }),
                     surface);
    vips::VImage picture(image);
    picture.get_image()->Type = VIPS_INTERPRETATION_sRGB;
    if (stride / 4 != width) picture = picture.crop(0, 0, width, height);
    return picture;
}

} // namespace lumatra::SvgDrawing
