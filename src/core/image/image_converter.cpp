#include "image/image_converter.h"

#include "formats/convert_error.h"
#include "image/heif_writer.h"
#include "image/icon_container.h"
#include "image/image_decoder.h"
#include "image/image_io.h"
#include "image/image_pdf.h"
#include "image/iptc_xmp.h"
#include "image/picture_memory.h"
#include "image/tiff_exif.h"

#include <algorithm>
#include <memory>
#include <mutex>

namespace lumatra {
namespace {

using vips::VImage;

bool hasOperation(const char* name) {
    return vips_type_find("VipsOperation", name) != 0;
}

[[noreturn]] void cannotEncode(Format format) {
    throw ConvertError::failed("Система не умеет писать " + std::string(title(format)));
}

std::string writeFailure(Format format) {
    return format == Format::pdf ? "Не удалось создать PDF"
                                 : "Не удалось записать " + std::string(title(format));
}

// The picture drawn over opaque white, 3 bands; a picture without alpha unchanged.
VImage flatten(const VImage& image) {
    if (!image.has_alpha()) return image;
    VImage flat =
        image.flatten(VImage::option()->set("background", std::vector<double>{255, 255, 255}));
    if (flat.format() != VIPS_FORMAT_UCHAR) flat = flat.cast(VIPS_FORMAT_UCHAR);
    return flat;
}

// Square renditions, one per size: the picture scaled so that its longer side fills the
// square (small pictures are enlarged), centred, with transparent bands on the shorter
// axis; each encoded as PNG.
std::vector<IconRendition> iconRenditions(const VImage& image, const std::vector<int>& sizes,
                                          std::stop_token stop) {
    std::vector<IconRendition> renditions;
    for (const int size : sizes) {
        if (stop.stop_requested()) throw CancelledError();
        // thumbnail_image scales premultiplied, so transparent edges get no dark fringe.
        VImage scaled = image.thumbnail_image(
            size, VImage::option()->set("height", size)->set("size", VIPS_SIZE_BOTH));
        if (!scaled.has_alpha()) scaled = scaled.bandjoin_const({255});
        const VImage square =
            scaled.embed((size - scaled.width()) / 2, (size - scaled.height()) / 2, size, size,
                         VImage::option()
                             ->set("extend", VIPS_EXTEND_BACKGROUND)
                             ->set("background", std::vector<double>{0, 0, 0, 0}));
        VipsBlob* blob = square.pngsave_buffer(VImage::option()->set("strip", true));
        std::size_t length = 0;
        const void* data = vips_blob_get(blob, &length);
        renditions.push_back({size, std::string(static_cast<const char*>(data), length)});
        vips_area_unref(VIPS_AREA(blob));
    }
    return renditions;
}

// The whole picture decoded into memory, once: what icons, PDF pages and the HEIF
// encoders work from.
VImage wholePicture(const VImage& image, std::stop_token stop) {
    try {
        const KillSwitch kill(image, stop);
        return image.copy_memory();
    } catch (const vips::VError&) {
        if (stop.stop_requested()) throw CancelledError();
        throwUnreadableImage();
    }
}

// Runs a libvips save into `output`, not yet finished. A failure that is neither a
// cancellation nor a failed write can only come from decoding the source, which the save
// drives.
template <typename Save>
void streamInto(OutputFile& output, const VImage& image, std::stop_token stop, Save save) {
    try {
        const KillSwitch kill(image, stop);
        save(image, output.target());
    } catch (const vips::VError&) {
        if (stop.stop_requested()) throw CancelledError();
        if (output.failed()) output.throwWriteFailed();
        throwUnreadableImage();
    }
    if (stop.stop_requested()) throw CancelledError();
}

// Pictures from this size on (a third of a megapixel) have their HEIC file held below
// the JPEG of the same quality.
constexpr std::int64_t minGuardedPixels = 300'000;

// Bytes of the picture as JPEG at `quality`, without metadata; 0 when it cannot be made.
std::size_t jpegSize(const VImage& picture, int quality) {
    try {
        VipsBlob* blob =
            picture.jpegsave_buffer(VImage::option()->set("Q", quality)->set("strip", true));
        std::size_t length = 0;
        vips_blob_get(blob, &length);
        vips_area_unref(VIPS_AREA(blob));
        return length;
    } catch (const vips::VError&) {
        return 0;
    }
}

// JPEG keeps the source's EXIF, GPS and IPTC data, now describing upright pixels.
VImage withPhotoMetadata(const VImage& image, const DecodedImage& decoded) {
    VImage out = image.copy();
    out.remove(VIPS_META_XMP_NAME);
    out.remove(VIPS_META_EXIF_NAME);
    out.remove(VIPS_META_IPTC_NAME);
    const auto setBlob = [&out](const char* name, const std::string& bytes) {
        if (!bytes.empty())
            vips_image_set_blob_copy(out.get_image(), name, bytes.data(), bytes.size());
    };
    setBlob(VIPS_META_EXIF_NAME, exifWithUprightOrientation(decoded.exif));
    setBlob(VIPS_META_IPTC_NAME, decoded.iptc);
    out.set(VIPS_META_ORIENTATION, 1);
    return out;
}

void writeHeif(const DecodedImage& decoded, Format format, Quality quality,
               const std::filesystem::path& path, std::stop_token stop) {
    // AVIF is AV1 in the HEIF container; without an AV1 encoder the file is HEVC-coded
    // instead, as the platform's converter does when it has no AVIF type.
    HeifWriter::Codec codec = HeifWriter::Codec::hevc;
    if (format == Format::avif && HeifWriter::canEncode(HeifWriter::Codec::av1))
        codec = HeifWriter::Codec::av1;
    else if (!HeifWriter::canEncode(HeifWriter::Codec::hevc))
        cannotEncode(format);
    OutputFile output(path, writeFailure(format));
    const VImage picture = wholePicture(decoded.image, stop);
    const std::string name(title(format));
    // Photo software reads the IPTC description from XMP in these files.
    HeifWriter::Metadata metadata{decoded.exif, decoded.iptc,
                                  IptcXmp::mergedXmp(iptcStream(decoded.iptc), decoded.xmp)};
    // The encoders cannot be interrupted: the work runs aside and a cancel leaves it.
    output.write(runStoppable(
        [picture, codec, quality, metadata = std::move(metadata), name] {
            // An HEIC file is there to be smaller than the JPEG of the same quality. On
            // small pictures the container's fixed kilobyte or two decides instead.
            std::size_t sizeBelow = 0;
            if (codec == HeifWriter::Codec::hevc &&
                static_cast<std::int64_t>(picture.width()) * picture.height() >= minGuardedPixels)
                sizeBelow = jpegSize(flatten(picture), lossyQuality(quality));
            return HeifWriter::encode(picture, codec, quality, metadata, name, sizeBelow);
        },
        stop));
    output.finish();
}

void writeIcon(const DecodedImage& decoded, Format format, const std::filesystem::path& path,
               std::stop_token stop) {
    if (!hasOperation("pngsave_buffer")) cannotEncode(format);
    OutputFile output(path, writeFailure(format));
    std::vector<int> sizes;
    if (format == Format::ico)
        sizes.assign(ImageConverter::icoSizes.begin(), ImageConverter::icoSizes.end());
    else
        sizes.assign(ImageConverter::icnsSizes.begin(), ImageConverter::icnsSizes.end());
    // A picture more than twice the largest rendition is shrunk as it is read, by a box
    // filter in whole steps, so that memory holds the shrunk copy alone; every rendition
    // is drawn from that copy, at least twice its size.
    VImage source = decoded.image;
    const int shrink = std::max(source.width(), source.height()) / (2 * sizes.front());
    if (shrink > 1) {
        const bool alpha = source.has_alpha();
        if (alpha) source = source.premultiply();
        source = source.shrink(shrink, shrink);
        if (alpha) source = source.unpremultiply();
        source = source.cast(VIPS_FORMAT_UCHAR);
    }
    const VImage picture = wholePicture(source, stop);
    std::vector<IconRendition> renditions;
    try {
        renditions = iconRenditions(picture, sizes, stop);
    } catch (const vips::VError&) {
        if (stop.stop_requested()) throw CancelledError();
        output.throwWriteFailed();
    }
    output.write(format == Format::ico ? IconContainer::writeIco(renditions)
                                       : IconContainer::writeIcns(renditions));
    output.finish();
}

void writePdf(const DecodedImage& decoded, const std::filesystem::path& path,
              std::stop_token stop) {
    OutputFile output(path, writeFailure(Format::pdf));
    // Cairo compresses the whole picture in one call that cannot be interrupted: the page
    // is made aside, writing here until a cancel lets go of the output.
    struct Target {
        std::mutex mutex;
        OutputFile* file = nullptr;
        bool failed = false;
    };
    const auto target = std::make_shared<Target>();
    target->file = &output;
    const auto letGo = [&target] {
        const std::lock_guard lock(target->mutex);
        target->file = nullptr;
    };
    try {
        runStoppable(
            [image = decoded.image, target, stop] {
                const struct ThreadBuffers {
                    ~ThreadBuffers() { vips_thread_shutdown(); }
                } threadBuffers;
                ImagePdf::render(
                    image,
                    [&target](std::string_view bytes) {
                        const std::lock_guard lock(target->mutex);
                        if (!target->file) return false;
                        try {
                            target->file->write(bytes);
                        } catch (const ConvertError&) {
                            target->failed = true;
                        }
                        return !target->failed;
                    },
                    stop);
                return std::string();
            },
            stop);
    } catch (const vips::VError&) {
        letGo();
        if (stop.stop_requested()) throw CancelledError();
        throwUnreadableImage();
    } catch (const ConvertError&) {
        letGo();
        if (target->failed) output.throwWriteFailed();
        throw;
    } catch (...) {
        letGo();
        throw;
    }
    output.finish();
}

void putLe(std::string& bytes, std::size_t at, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i) & 0xFF);
}

// A 24-bit BMP, the picture flattened onto white. BMP stores its rows from the bottom up;
// the picture is read from the top in strips and each strip lands at its place in the
// file, so memory holds one strip.
void writeBmp(const DecodedImage& decoded, const std::filesystem::path& path,
              std::stop_token stop) {
    OutputFile output(path, writeFailure(Format::bmp));
    const VImage flat = flatten(decoded.image);
    const auto width = static_cast<std::uint64_t>(flat.width());
    const auto height = static_cast<std::uint64_t>(flat.height());
    const std::uint64_t rowBytes = (width * 3 + 3) & ~std::uint64_t{3};
    constexpr std::uint32_t headerBytes = 14 + 40;
    if (headerBytes + rowBytes * height > 0xFFFFFFFFu) output.throwWriteFailed();
    std::string header(headerBytes, '\0');
    header[0] = 'B';
    header[1] = 'M';
    putLe(header, 2, static_cast<std::uint32_t>(headerBytes + rowBytes * height), 4);
    putLe(header, 10, headerBytes, 4);
    putLe(header, 14, 40, 4);
    putLe(header, 18, static_cast<std::uint32_t>(width), 4);
    putLe(header, 22, static_cast<std::uint32_t>(height), 4);
    putLe(header, 26, 1, 2);  // planes
    putLe(header, 28, 24, 2); // bits per pixel
    putLe(header, 34, static_cast<std::uint32_t>(rowBytes * height), 4);
    putLe(header, 38, 2835, 4); // 72 dots per inch, in dots per metre
    putLe(header, 42, 2835, 4);
    output.write(header);

    constexpr int stripRows = 64;
    struct RegionDeleter {
        void operator()(VipsRegion* region) const { g_object_unref(region); }
    };
    try {
        const std::unique_ptr<VipsRegion, RegionDeleter> region(vips_region_new(flat.get_image()));
        std::string block;
        for (std::uint64_t top = 0; top < height; top += stripRows) {
            if (stop.stop_requested()) throw CancelledError();
            const std::uint64_t rows = std::min<std::uint64_t>(stripRows, height - top);
            VipsRect strip{0, static_cast<int>(top), static_cast<int>(width),
                           static_cast<int>(rows)};
            if (vips_region_prepare(region.get(), &strip) != 0) throw vips::VError();
            block.assign(rows * rowBytes, '\0');
            for (std::uint64_t i = 0; i < rows; ++i) {
                const auto* in = reinterpret_cast<const std::uint8_t*>(
                    VIPS_REGION_ADDR(region.get(), 0, static_cast<int>(top + i)));
                char* out = block.data() + (rows - 1 - i) * rowBytes;
                for (std::uint64_t x = 0; x < width; ++x, in += 3, out += 3) {
                    out[0] = static_cast<char>(in[2]);
                    out[1] = static_cast<char>(in[1]);
                    out[2] = static_cast<char>(in[0]);
                }
            }
            output.writeAt(headerBytes + (height - top - rows) * rowBytes, block);
        }
    } catch (const vips::VError&) {
        if (stop.stop_requested()) throw CancelledError();
        throwUnreadableImage();
    }
    output.finish();
}

} // namespace

void ImageConverter::convert(const std::filesystem::path& source, Format format, Quality quality,
                             const std::filesystem::path& output, std::stop_token stop) {
    static constexpr std::array targets{Format::gif,  Format::jpg,  Format::png, Format::heic,
                                        Format::avif, Format::tiff, Format::bmp, Format::ico,
                                        Format::icns, Format::pdf};
    if (std::find(targets.begin(), targets.end(), format) == targets.end())
        throw ConvertError::unsupported("фото → " + std::string(title(format)));
    startVips();
    // libvips keeps buffers for every thread that used it; conversions run on threads
    // that come and go, so they are released when each conversion ends.
    struct ThreadBuffers {
        ~ThreadBuffers() { vips_thread_shutdown(); }
    } const threadBuffers;
    const SourceFile file(source);
    const DecodedImage decoded =
        ImageDecoder::decode(file, lowercased(pathExtension(source)), stop);
    if (stop.stop_requested()) throw CancelledError();
    // The encoders that take the picture whole have a bound of their own; the memory the
    // conversion holds is taken from the process's budget, waiting while others hold it.
    const std::int64_t width = decoded.image.width();
    const std::int64_t height = decoded.image.height();
    const std::int64_t limit =
        std::min(ImageDecoder::maxPixels, PictureMemory::maxPixels(decoded.bytesPerPixel, format));
    if (width * height > limit)
        throw ConvertError::failed(
            PictureMemory::tooLargeText(width, height, limit, title(format)));
    const PictureMemory::Lease lease = PictureMemory::reserve(
        static_cast<std::int64_t>(
            static_cast<double>(width * height) *
            (decoded.bytesPerPixel + PictureMemory::encoderBytesPerPixel(format))),
        stop);
    // Decoders that hold the whole frame decode it at the first request, in one call that
    // cannot be interrupted (seconds for the largest GIF): it runs aside, so that a cancel
    // is answered at once. A failure here is met again, and reported, by the encoder.
    if (decoded.bytesPerPixel > 0)
        runStoppable(
            [image = decoded.image] {
                VipsRegion* region = vips_region_new(image.get_image());
                VipsRect first{0, 0, image.width(), 1};
                vips_region_prepare(region, &first);
                g_object_unref(region);
                vips_error_clear();
                vips_thread_shutdown();
                return std::string();
            },
            stop);

    const auto stream = [&](const char* saver, auto save) {
        if (!hasOperation(saver)) cannotEncode(format);
        OutputFile out(output, writeFailure(format));
        // PNG and TIFF hold grey and 16-bit pictures as they are.
        const bool lossless = format == Format::png || format == Format::tiff;
        streamInto(out, lossless ? decoded.lossless : decoded.image, stop, save);
        // TIFF keeps the photograph's EXIF data as JPEG does; libvips' saver writes none.
        if (format == Format::tiff && !decoded.exif.empty()) addExifToTiff(out, decoded.exif);
        out.finish();
    };
    if (format == Format::jpg) {
        if (!hasOperation("jpegsave_target")) cannotEncode(format);
        OutputFile out(output, writeFailure(format));
        const VImage photo = withPhotoMetadata(flatten(decoded.image), decoded);
        streamInto(out, photo, stop, [quality](const VImage& image, vips::VTarget target) {
            image.jpegsave_target(target, VImage::option()->set("Q", lossyQuality(quality)));
        });
        out.finish();
        return;
    }
    if (format == Format::png)
        return stream("pngsave_target", [](const VImage& image, vips::VTarget target) {
            image.pngsave_target(target, VImage::option()->set("strip", true));
        });
    if (format == Format::tiff)
        return stream("tiffsave_target", [](const VImage& image, vips::VTarget target) {
            // Deflate with horizontal differencing: lossless, a third to a half of the
            // raw size on photographs.
            image.tiffsave_target(target,
                                  VImage::option()
                                      ->set("strip", true)
                                      ->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE)
                                      ->set("predictor", VIPS_FOREIGN_TIFF_PREDICTOR_HORIZONTAL));
        });
    if (format == Format::gif)
        return stream("gifsave_target", [](const VImage& image, vips::VTarget target) {
            image.gifsave_target(target, VImage::option()->set("strip", true));
        });
    if (format == Format::bmp) return writeBmp(decoded, output, stop);
    if (format == Format::heic || format == Format::avif)
        return writeHeif(decoded, format, quality, output, stop);
    if (format == Format::ico || format == Format::icns)
        return writeIcon(decoded, format, output, stop);
    writePdf(decoded, output, stop);
}

} // namespace lumatra
