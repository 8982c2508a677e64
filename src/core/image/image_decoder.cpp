#include "image/image_decoder.h"

#include "formats/convert_error.h"
#include "image/icon_container.h"
#include "image/iptc_xmp.h"
#include "image/picture_memory.h"
#include "image/raw_decoder.h"
#include "image/svg_drawing.h"
#include "image/xcf_layers.h"

#include <array>
#include <optional>

namespace lumatra {
namespace {

using vips::VImage;
using vips::VSource;

enum class SourceType {
    jpeg,
    png,
    webp,
    tiff,
    gif,
    heif,
    jpeg2000,
    exr,
    ico,
    icns,
    bmp,
    psd,
    tga,
    pnm,
    pcx,
    xcf,
    svg,
    raw
};

// Pixels ImageMagick may decode for the layers of one GIMP image, counted as loadXcf
// does: four times the largest picture, or thirteen whole layers of 12 megapixels.
constexpr std::int64_t maxXcfWork = 4 * ImageDecoder::maxPixels;

// Icon files are small; reading one whole into memory is fine up to this.
constexpr std::size_t maxIconFileBytes = 64 << 20;

bool isRawExtension(std::string_view extension) {
    static constexpr std::array<std::string_view, 8> raws{"dng", "cr2", "cr3", "nef",
                                                          "arw", "raf", "orf", "rw2"};
    for (std::string_view raw : raws)
        if (raw == extension) return true;
    return false;
}

SourceType sniff(std::string_view head, std::string_view extension) {
    // RAW files are mostly TIFF or ISO media files inside: the extension decides first.
    if (isRawExtension(extension)) return SourceType::raw;
    const auto starts = [&head](std::string_view magic, std::size_t at = 0) {
        return head.size() >= at + magic.size() && head.substr(at, magic.size()) == magic;
    };
    using namespace std::string_view_literals;
    if (starts("\xFF\xD8\xFF"sv)) return SourceType::jpeg;
    if (starts("\x89PNG\r\n\x1A\n"sv)) return SourceType::png;
    if (starts("RIFF"sv) && starts("WEBP"sv, 8)) return SourceType::webp;
    if (starts("II*\0"sv) || starts("MM\0*"sv) || starts("II+\0"sv) || starts("MM\0+"sv))
        return SourceType::tiff;
    if (starts("GIF87a"sv) || starts("GIF89a"sv)) return SourceType::gif;
    if (starts("ftyp"sv, 4)) return SourceType::heif;
    if (starts("\0\0\0\x0CjP  \r\n\x87\n"sv) || starts("\xFF\x4F\xFF\x51"sv))
        return SourceType::jpeg2000;
    if (starts("\x76\x2F\x31\x01"sv)) return SourceType::exr;
    // A true-colour TGA begins like a cursor file; only the name tells them apart.
    if (extension == "tga") return SourceType::tga;
    if (starts("\0\0\1\0"sv) || starts("\0\0\2\0"sv)) return SourceType::ico;
    if (starts("icns"sv)) return SourceType::icns;
    if (starts("BM"sv)) return SourceType::bmp;
    if (starts("8BPS"sv)) return SourceType::psd;
    // Portable anymaps, plain (P1–P3) and raw (P4–P6): "P", a digit, white space.
    if (head.size() >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6' &&
        (head[2] == ' ' || head[2] == '\t' || head[2] == '\n' || head[2] == '\r' || head[2] == '#'))
        return SourceType::pnm;
    // PCX: the manufacturer byte 0A, a known version, run-length encoding, a known depth.
    if (head.size() >= 128 && head[0] == '\x0A' &&
        std::string_view("\0\2\3\4\5"sv).find(head[1]) != std::string_view::npos &&
        head[2] == '\x01' &&
        std::string_view("\1\2\4\x08"sv).find(head[3]) != std::string_view::npos)
        return SourceType::pcx;
    if (starts("gimp xcf "sv)) return SourceType::xcf;
    // SVG is XML text, plain or gzipped: its name tells, and librsvg checks the rest.
    if (extension == "svg" || extension == "svgz") return SourceType::svg;
    throw ConvertError::failed(head.empty() ? "Не удалось открыть изображение: файл пуст"
                                            : "Не удалось открыть изображение: формат файла "
                                              "не распознан");
}

// Bytes per pixel each decoder holds while the picture is read (measured, rounded up):
// libvips reads JPEG, PNG, TIFF, PNM and SVG in strips; WebP, GIF and HEIF are decoded
// whole into a frame of their own; LibRaw holds the sensor data, its four-channel working
// copy and the 16-bit picture at once; ImageMagick holds 16-bit samples besides libvips'
// copy.
double decoderBytesPerPixel(SourceType type) {
    switch (type) {
    case SourceType::jpeg:
    case SourceType::png:
    case SourceType::tiff:
    case SourceType::pnm:
    case SourceType::svg:
    case SourceType::ico:
    case SourceType::icns:
        return 0;
    case SourceType::gif:
        return 6;
    case SourceType::webp:
    case SourceType::heif:
    case SourceType::jpeg2000:
    case SourceType::exr:
        return 8;
    case SourceType::xcf:
        return 12;
    case SourceType::raw:
        return 16;
    case SourceType::bmp:
    case SourceType::psd:
    case SourceType::tga:
    case SourceType::pcx:
        // Also ImageMagick's own bound here: 128 megapixels.
        return 16;
    }
    return 16;
}

// A picture of more than maxPixels, or more than its decoder may hold, is refused with
// its size.
void checkSize(std::int64_t width, std::int64_t height, double bytesPerPixel) {
    std::int64_t limit = ImageDecoder::maxPixels;
    if (bytesPerPixel > 0)
        limit =
            std::min(limit, static_cast<std::int64_t>(
                                static_cast<double>(PictureMemory::perConversion) / bytesPerPixel));
    // Each side first, so that the product cannot overflow.
    if (width > limit || height > limit || width * height > limit)
        throw ConvertError::failed(PictureMemory::tooLargeText(width, height, limit));
}

std::uint32_t le(std::string_view bytes, std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

std::uint32_t be(std::string_view bytes, std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

// ImageMagick decodes the whole picture before libvips sees its size, so the size in the
// header is checked first.
void checkMagickHeader(SourceType type, std::string_view head) {
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (type == SourceType::bmp && head.size() >= 26) {
        width = static_cast<std::int32_t>(le(head, 18, 4));
        height = static_cast<std::int32_t>(le(head, 22, 4));
    } else if (type == SourceType::psd && head.size() >= 22) {
        height = be(head, 14, 4);
        width = be(head, 18, 4);
    } else if (type == SourceType::tga && head.size() >= 18) {
        width = le(head, 12, 2);
        height = le(head, 14, 2);
    } else if (type == SourceType::pcx && head.size() >= 12) {
        width = static_cast<std::int64_t>(le(head, 8, 2)) - le(head, 4, 2) + 1;
        height = static_cast<std::int64_t>(le(head, 10, 2)) - le(head, 6, 2) + 1;
    } else {
        throwUnreadableImage();
    }
    if (height < 0) height = -height; // top-down bitmaps
    if (width <= 0 || height <= 0) throwUnreadableImage();
    checkSize(width, height, decoderBytesPerPixel(type));
}

VImage blobImage(const std::string_view bytes, bool jpeg2000) {
    VipsBlob* blob = vips_blob_copy(bytes.data(), bytes.size());
    try {
        VImage image = jpeg2000 ? VImage::jp2kload_buffer(blob) : VImage::pngload_buffer(blob);
        vips_area_unref(VIPS_AREA(blob));
        return image;
    } catch (...) {
        vips_area_unref(VIPS_AREA(blob));
        throw;
    }
}

VImage loadIcon(const SourceFile& source, bool icns) {
    const std::string file = source.readAll(maxIconFileBytes);
    const IconEntry entry =
        icns ? IconContainer::largestIcnsEntry(file) : IconContainer::largestIcoEntry(file);
    switch (entry.encoding) {
    case IconEntry::Encoding::png:
        return blobImage(entry.bytes, false);
    case IconEntry::Encoding::jpeg2000:
        return blobImage(entry.bytes, true);
    case IconEntry::Encoding::dib: {
        const RgbaPixels pixels = IconContainer::decodeDib(entry.bytes);
        VipsImage* image =
            vips_image_new_from_memory_copy(pixels.bytes.data(), pixels.bytes.size(), pixels.width,
                                            pixels.height, 4, VIPS_FORMAT_UCHAR);
        if (!image) throwUnreadableImage();
        VImage result(image);
        result.get_image()->Type = VIPS_INTERPRETATION_sRGB;
        return result;
    }
    }
    throwUnreadableImage();
}

// The lazily read image of a source with a native libvips loader.
VImage loadNative(SourceType type, const SourceFile& source, VipsAccess access) {
    auto options = [access] {
        // A cut-short file fails rather than coming out half grey.
        return VImage::option()->set("access", access)->set("fail_on", VIPS_FAIL_ON_TRUNCATED);
    };
    if (type == SourceType::exr) return VImage::openexrload(source.path().c_str());
    const VSource input = VSource::new_from_file(source.path().c_str());
    switch (type) {
    case SourceType::jpeg:
        return VImage::jpegload_source(input, options());
    case SourceType::png:
        return VImage::pngload_source(input, options());
    case SourceType::webp:
        return VImage::webpload_source(input, options());
    case SourceType::tiff:
        return VImage::tiffload_source(input, options());
    case SourceType::gif:
        return VImage::gifload_source(input, options());
    case SourceType::heif:
        return VImage::heifload_source(input, options());
    case SourceType::jpeg2000:
        return VImage::jp2kload_source(input, options());
    case SourceType::pnm:
        return VImage::ppmload_source(input, options());
    case SourceType::svg:
        // Read from the descriptor, the drawing has no folder of its own: references to
        // other files lead nowhere.
        return VImage::svgload_source(input, options());
    case SourceType::exr:
    case SourceType::ico:
    case SourceType::icns:
    case SourceType::bmp:
    case SourceType::psd:
    case SourceType::tga:
    case SourceType::pcx:
    case SourceType::xcf:
    case SourceType::raw:
        break;
    }
    throwUnreadableImage();
}

std::string blobField(const VImage& image, const char* name) {
    if (image.get_typeof(name) != VIPS_TYPE_BLOB) return {};
    std::size_t length = 0;
    const void* data = image.get_blob(name, &length);
    return std::string(static_cast<const char*>(data), length);
}

int orientationOf(const VImage& image) {
    if (image.get_typeof(VIPS_META_ORIENTATION) == 0) return 1;
    const int orientation = image.get_int(VIPS_META_ORIENTATION);
    return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

// 8-bit sRGB with 3 bands, or 4 with alpha, whatever the source's colour model.
VImage toEightBitSrgb(VImage image) {
    if (image.get_typeof(VIPS_META_ICC_NAME) == VIPS_TYPE_BLOB) {
        try {
            image = image.icc_transform("srgb",
                                        VImage::option()->set("embedded", true)->set("depth", 8));
        } catch (const vips::VError&) {
            // A broken or unusable profile: the pixels are taken as they are.
        }
    }
    if (image.interpretation() != VIPS_INTERPRETATION_sRGB || image.format() != VIPS_FORMAT_UCHAR) {
        try {
            image = image.colourspace(VIPS_INTERPRETATION_sRGB);
        } catch (const vips::VError&) {
            // Bands without a known colour model: used as they are below.
        }
    }
    if (image.format() != VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_UCHAR);
    if (image.bands() == 1)
        image = image.bandjoin({image, image});
    else if (image.bands() == 2)
        image = image.extract_band(0).bandjoin(
            {image.extract_band(0), image.extract_band(0), image.extract_band(1)});
    else if (image.bands() > 4)
        image = image.extract_band(0, VImage::option()->set("n", 4));
    image.get_image()->Type = VIPS_INTERPRETATION_sRGB;
    return image;
}

// The picture as the lossless encoders take it: grey stays grey (with its alpha) and 16
// bits stay 16 bits, in sRGB where the source says which colours it means; anything
// else is the 8-bit sRGB picture.
VImage inOwnModel(VImage image, const VImage& eightBit) {
    const VipsBandFormat format = image.format();
    if (format != VIPS_FORMAT_UCHAR && format != VIPS_FORMAT_USHORT) return eightBit;
    const bool deep = format == VIPS_FORMAT_USHORT;
    const VipsInterpretation model = image.interpretation();
    const bool grey = model == VIPS_INTERPRETATION_B_W || model == VIPS_INTERPRETATION_GREY16;
    if (grey && (image.bands() == 1 || image.bands() == 2)) {
        // A grey picture's profile is almost always a plain gamma; its levels stay.
        image.get_image()->Type = deep ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_B_W;
        return image;
    }
    const bool colour = model == VIPS_INTERPRETATION_sRGB || model == VIPS_INTERPRETATION_RGB16;
    if (!deep || !colour || (image.bands() != 3 && image.bands() != 4)) return eightBit;
    if (image.get_typeof(VIPS_META_ICC_NAME) == VIPS_TYPE_BLOB) {
        try {
            image = image.icc_transform("srgb",
                                        VImage::option()->set("embedded", true)->set("depth", 16));
        } catch (const vips::VError&) {
            return eightBit;
        }
    }
    if (image.format() != VIPS_FORMAT_USHORT) return eightBit;
    image.get_image()->Type = VIPS_INTERPRETATION_RGB16;
    return image;
}

void checkPixels(const VImage& image, SourceType type) {
    checkSize(image.width(), image.height(), decoderBytesPerPixel(type));
}

// A GIMP image as GIMP shows it: its visible layers stacked from the bottom up at their
// offsets, each through its opacity, over a clear canvas. ImageMagick reads the layers as
// pictures of their own, the bottom one first; asked for one of them it decodes that one
// and every one below it, so the work grows with the square of the layers and is bounded
// before it starts.
VImage loadXcf(const SourceFile& source, std::stop_token stop) {
    const std::optional<Xcf::Image> xcf =
        Xcf::readLayers([&source](std::uint64_t offset, std::size_t count) {
            return source.readAt(offset, count);
        });
    if (!xcf) throwUnreadableImage();
    checkSize(xcf->width, xcf->height, decoderBytesPerPixel(SourceType::xcf));
    const int count = static_cast<int>(xcf->layers.size());
    const auto shown = [](const Xcf::Layer& layer) {
        return layer.visible && !layer.inGroup && layer.opacity > 0;
    };
    std::int64_t below = 0; // pixels of the layers from the bottom up to this one
    std::int64_t work = 0;
    for (int i = count - 1; i >= 0; --i) {
        const Xcf::Layer& layer = xcf->layers[static_cast<std::size_t>(i)];
        below += static_cast<std::int64_t>(layer.width) * layer.height;
        if (shown(layer)) work += below;
    }
    if (work > maxXcfWork) throwUnreadableImage();
    const std::string name = "xcf:" + source.path();
    VImage canvas = VImage::black(static_cast<int>(xcf->width), static_cast<int>(xcf->height),
                                  VImage::option()->set("bands", 4))
                        .cast(VIPS_FORMAT_UCHAR)
                        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    for (int i = count - 1; i >= 0; --i) {
        const Xcf::Layer& layer = xcf->layers[static_cast<std::size_t>(i)];
        if (!shown(layer)) continue;
        if (stop.stop_requested()) throw CancelledError();
        VImage picture = toEightBitSrgb(VImage::magickload(
            name.c_str(), VImage::option()->set("page", count - 1 - i)->set("n", 1)));
        if (picture.width() != static_cast<int>(layer.width) ||
            picture.height() != static_cast<int>(layer.height))
            throwUnreadableImage();
        if (picture.bands() == 3) picture = picture.bandjoin_const({255});
        if (layer.opacity < 255)
            picture = picture.linear({1, 1, 1, layer.opacity / 255.0}, {0, 0, 0, 0})
                          .cast(VIPS_FORMAT_UCHAR);
        canvas = canvas
                     .composite2(picture, VIPS_BLEND_MODE_OVER,
                                 VImage::option()->set("x", layer.x)->set("y", layer.y))
                     .cast(VIPS_FORMAT_UCHAR);
    }
    // Stacked once here, so that the encoders do not stack every layer again per tile.
    return canvas.copy_memory();
}

} // namespace

DecodedImage ImageDecoder::decode(const SourceFile& source, std::string_view extension,
                                  std::stop_token stop) {
    startVips();
    const std::string head = source.head(128);
    const SourceType type = sniff(head, extension);
    DecodedImage decoded;
    try {
        VImage image;
        switch (type) {
        case SourceType::raw:
            image = RawDecoder::decode(
                source.path(), source.size(),
                std::min<std::int64_t>(maxPixels,
                                       PictureMemory::perConversion / decoderBytesPerPixel(type)),
                stop);
            break;
        case SourceType::ico:
        case SourceType::icns:
            image = loadIcon(source, type == SourceType::icns);
            break;
        case SourceType::xcf:
            image = loadXcf(source, stop);
            break;
        case SourceType::bmp:
        case SourceType::psd:
        case SourceType::tga:
        case SourceType::pcx: {
            checkMagickHeader(type, head);
            const char* prefix = type == SourceType::bmp   ? "bmp:"
                                 : type == SourceType::psd ? "psd:"
                                 : type == SourceType::pcx ? "pcx:"
                                                           : "tga:";
            image = VImage::magickload((prefix + source.path()).c_str());
            break;
        }
        case SourceType::jpeg:
        case SourceType::png:
        case SourceType::webp:
        case SourceType::tiff:
        case SourceType::gif:
        case SourceType::heif:
        case SourceType::jpeg2000:
        case SourceType::pnm:
        case SourceType::svg:
        case SourceType::exr: {
            // Read front to back while the encoder writes, unless the picture must be
            // turned: that needs it whole.
            image = loadNative(type, source, VIPS_ACCESS_SEQUENTIAL);
            checkPixels(image, type);
            if (orientationOf(image) != 1) image = loadNative(type, source, VIPS_ACCESS_RANDOM);
            // Filters are drawn over their whole region whatever strip is asked for:
            // such a drawing is rendered once, whole.
            if (type == SourceType::svg) {
                const std::optional<std::string> text = SvgDrawing::text(source);
                if (const double cost = SvgDrawing::filterCost(text); cost > 0)
                    image =
                        SvgDrawing::renderWhole(*text, image.width(), image.height(), cost, stop);
            }
            break;
        }
        }
        checkPixels(image, type);
        decoded.bytesPerPixel = decoderBytesPerPixel(type);
        decoded.exif = blobField(image, VIPS_META_EXIF_NAME);
        decoded.iptc = blobField(image, VIPS_META_IPTC_NAME);
        decoded.xmp = blobField(image, VIPS_META_XMP_NAME);
        if (decoded.iptc.empty() && type == SourceType::jpeg) {
            const std::string trailer = IptcXmp::afcpIptc(
                [&source](std::uint64_t offset, std::size_t count) {
                    return source.readAt(offset, count);
                },
                static_cast<std::uint64_t>(source.size()));
            if (!trailer.empty()) decoded.iptc = IptcXmp::photoshopBlock(trailer);
        }
        if (orientationOf(image) != 1) image = image.autorot();
        decoded.image = toEightBitSrgb(image);
        decoded.lossless = inOwnModel(image, decoded.image);
    } catch (const vips::VError&) {
        if (stop.stop_requested()) throw CancelledError();
        throwUnreadableImage();
    }
    return decoded;
}

} // namespace lumatra
