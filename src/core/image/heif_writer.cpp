#include "image/heif_writer.h"

#include "formats/convert_error.h"
#include "image/image_io.h"

#include <libheif/heif.h>

#include <cstring>
#include <memory>
#include <mutex>

namespace lumatra {
namespace {

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct EncoderDeleter {
    void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct OptionsDeleter {
    void operator()(heif_encoding_options* options) const { heif_encoding_options_free(options); }
};

void startHeif() {
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
}

heif_compression_format compressionOf(HeifWriter::Codec codec) {
    switch (codec) {
    case HeifWriter::Codec::hevc:
        return heif_compression_HEVC;
    case HeifWriter::Codec::av1:
        return heif_compression_AV1;
    }
    return heif_compression_HEVC;
}

// Encoder speeds. The libraries' defaults (x265's "medium" preset, aom's speed 6) spend
// 15 to 25 seconds on a 12-megapixel photo on two cores. x265's "ultrafast" and aom's
// speed 9 take a few seconds and a second; aom's speed 8 still takes a few seconds
// (speed 7 is ten times slower), so the best quality spends that. bench/README.md has
// the table of sizes and times.
void chooseSpeed(heif_encoder* encoder, HeifWriter::Codec codec, Quality quality) {
    switch (codec) {
    case HeifWriter::Codec::hevc:
        heif_encoder_set_parameter_string(encoder, "preset", "ultrafast");
        return;
    case HeifWriter::Codec::av1:
        heif_encoder_set_parameter_integer(encoder, "speed", quality == Quality::best ? 8 : 9);
        return;
    }
}

std::uint32_t readU16(std::string_view bytes, std::size_t at, bool little) {
    const auto a = static_cast<std::uint8_t>(bytes[at]);
    const auto b = static_cast<std::uint8_t>(bytes[at + 1]);
    return little ? (a | b << 8) : (a << 8 | b);
}

std::uint32_t readU32(std::string_view bytes, std::size_t at, bool little) {
    const auto low = readU16(bytes, at + (little ? 0 : 2), little);
    const auto high = readU16(bytes, at + (little ? 2 : 0), little);
    return low | high << 16;
}

} // namespace

std::string exifWithUprightOrientation(std::string exif) {
    const std::size_t tiff = exif.starts_with(std::string_view("Exif\0\0", 6)) ? 6 : 0;
    if (exif.size() < tiff + 8) return exif;
    const bool little = exif.compare(tiff, 2, "II") == 0;
    if (!little && exif.compare(tiff, 2, "MM") != 0) return exif;
    const std::string_view view(exif);
    const std::size_t ifd = tiff + readU32(view, tiff + 4, little);
    if (ifd < tiff + 8 || ifd + 2 > exif.size()) return exif;
    const std::size_t count = readU16(view, ifd, little);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (entry + 12 > exif.size()) break;
        // Orientation: tag 0x0112, one SHORT stored in the entry itself.
        if (readU16(view, entry, little) != 0x0112 || readU16(view, entry + 2, little) != 3)
            continue;
        exif[entry + 8] = little ? 1 : 0;
        exif[entry + 9] = little ? 0 : 1;
    }
    return exif;
}

std::string iptcStream(std::string_view block) {
    if (!block.empty() && block.front() == '\x1C') return std::string(block);
    constexpr std::string_view photoshop("Photoshop 3.0\0", 14);
    std::size_t at = block.starts_with(photoshop) ? photoshop.size() : 0;
    // Image resources: "8BIM", id, a padded Pascal name, a size and padded data.
    while (at + 12 <= block.size() && block.compare(at, 4, "8BIM") == 0) {
        const auto id = readU16(block, at + 4, false);
        const std::size_t nameLength = static_cast<std::uint8_t>(block[at + 6]);
        std::size_t next = at + 6 + ((nameLength + 2) & ~std::size_t{1});
        if (next + 4 > block.size()) break;
        const std::size_t size = readU32(block, next, false);
        next += 4;
        if (size > block.size() - next) break;
        if (id == 0x0404) return std::string(block.substr(next, size));
        at = next + ((size + 1) & ~std::size_t{1});
    }
    return {};
}

bool HeifWriter::canEncode(Codec codec) {
    startHeif();
    return heif_have_encoder_for_format(compressionOf(codec)) != 0;
}

int HeifWriter::encoderQuality(Codec codec, Quality quality) {
    switch (codec) {
    case Codec::hevc:
        switch (quality) {
        case Quality::best:
            return 60;
        case Quality::balanced:
            return 50;
        case Quality::small:
            return 40;
        }
        return 50;
    case Codec::av1:
        return lossyQuality(quality);
    }
    return lossyQuality(quality);
}

namespace {

std::string encodeOnce(const vips::VImage& image, HeifWriter::Codec codec, Quality quality,
                       int encoderQuality, const HeifWriter::Metadata& metadata,
                       std::string_view title) {
    const auto fail = [title] {
        throw ConvertError::failed("Не удалось записать " + std::string(title));
    };
    const std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    if (!context ||
        heif_context_get_encoder_for_format(context.get(), compressionOf(codec), &rawEncoder)
                .code != heif_error_Ok)
        fail();
    const std::unique_ptr<heif_encoder, EncoderDeleter> encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), encoderQuality);
    chooseSpeed(encoder.get(), codec, quality);

    const int width = image.width();
    const int height = image.height();
    const int bands = image.bands();
    heif_image* rawImage = nullptr;
    if (heif_image_create(width, height, heif_colorspace_RGB,
                          bands == 4 ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                          &rawImage)
            .code != heif_error_Ok)
        fail();
    const std::unique_ptr<heif_image, ImageDeleter> picture(rawImage);
    if (heif_image_add_plane(picture.get(), heif_channel_interleaved, width, height, 8).code !=
        heif_error_Ok)
        fail();
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(picture.get(), heif_channel_interleaved, &stride);
    const auto* pixels = static_cast<const std::uint8_t*>(VIPS_IMAGE_ADDR(image.get_image(), 0, 0));
    if (!plane || !pixels) fail();
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bands;
    for (int y = 0; y < height; ++y)
        std::memcpy(plane + static_cast<std::size_t>(y) * stride,
                    pixels + static_cast<std::size_t>(y) * rowBytes, rowBytes);

    const std::unique_ptr<heif_encoding_options, OptionsDeleter> options(
        heif_encoding_options_alloc());
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_encode_image(context.get(), picture.get(), encoder.get(), options.get(),
                                  &rawHandle)
            .code != heif_error_Ok)
        fail();
    const std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
    if (!metadata.exif.empty()) {
        const std::string upright = exifWithUprightOrientation(metadata.exif);
        heif_context_add_exif_metadata(context.get(), handle.get(), upright.data(),
                                       static_cast<int>(upright.size()));
    }
    if (const std::string stream = iptcStream(metadata.iptc); !stream.empty())
        heif_context_add_generic_metadata(context.get(), handle.get(), stream.data(),
                                          static_cast<int>(stream.size()), "iptc", nullptr);
    if (!metadata.xmp.empty())
        heif_context_add_XMP_metadata(context.get(), handle.get(), metadata.xmp.data(),
                                      static_cast<int>(metadata.xmp.size()));

    std::string bytes;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, size_t size, void* target) {
        static_cast<std::string*>(target)->append(static_cast<const char*>(data), size);
        return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
    };
    if (heif_context_write(context.get(), &writer, &bytes).code != heif_error_Ok) fail();
    return bytes;
}

} // namespace

std::string HeifWriter::encode(const vips::VImage& image, Codec codec, Quality quality,
                               const Metadata& metadata, std::string_view title,
                               std::size_t sizeBelow) {
    startHeif();
    int encoderQuality = HeifWriter::encoderQuality(codec, quality);
    std::string bytes = encodeOnce(image, codec, quality, encoderQuality, metadata, title);
    // Grainy pictures cost HEVC more than JPEG; ten steps down each time win it back.
    for (int retry = 0; retry < 2 && codec == Codec::hevc && sizeBelow > 0 &&
                        bytes.size() >= sizeBelow && encoderQuality > 10;
         ++retry) {
        encoderQuality -= 10;
        bytes = encodeOnce(image, codec, quality, encoderQuality, metadata, title);
    }
    return bytes;
}

} // namespace lumatra
