#include "image/raw_decoder.h"

#include "formats/convert_error.h"
#include "image/image_io.h"

#include <libraw.h>

#include <memory>
#include <optional>

namespace lumatra {
namespace {

struct ProcessedImageDeleter {
    void operator()(libraw_processed_image_t* image) const { LibRaw::dcraw_clear_mem(image); }
};

int onProgress(void* data, LibRaw_progress, int, int) {
    return static_cast<std::stop_token*>(data)->stop_requested() ? 1 : 0;
}

// Whether the sensor data the file announces lies wholly inside it. A cut-off file still
// opens (its directory sits at the start), and LibRaw then fills what it could not read
// with black, white or stripes.
bool rawDataFits(LibRaw& raw, std::int64_t fileSize) {
    const unpacker_data_t& unpacker = raw.get_internal_data_pointer()->unpacker_data;
    const auto fits = [fileSize](std::int64_t offset, std::int64_t size) {
        return offset >= 0 && size >= 0 && offset <= fileSize && size <= fileSize - offset;
    };
    if (!fits(unpacker.data_offset, unpacker.data_size)) return false;
    // Canon CR3 keeps the sensor data in a track of the ISO media file.
    const int track = unpacker.crx_track_selected;
    if (track >= 0 && track < LIBRAW_CRXTRACKS_MAXCOUNT) {
        const crx_data_header_t& header = unpacker.crx_header[track];
        if (header.MediaSize > 0 && !fits(header.MediaOffset, header.MediaSize)) return false;
    }
    return true;
}

// Whether the unpacked sensor data holds anything but zeros. A file whose picture was
// cut out (as sample collections strip theirs to stay small) still unpacks, to black.
bool sensorDataPresent(const LibRaw& raw) {
    const libraw_rawdata_t& data = raw.imgdata.rawdata;
    const libraw_image_sizes_t& sizes = data.sizes;
    const auto anyNonZero = [](const auto* samples, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            if (samples[i] != 0) return true;
        return false;
    };
    const std::size_t rows = sizes.raw_height;
    const std::size_t pitch = sizes.raw_pitch;
    if (data.raw_image) return anyNonZero(data.raw_image, rows * pitch / 2);
    if (data.color3_image) return anyNonZero(&data.color3_image[0][0], rows * pitch / 2);
    if (data.color4_image) return anyNonZero(&data.color4_image[0][0], rows * pitch / 2);
    if (data.float_image) return anyNonZero(data.float_image, rows * pitch / 4);
    return true;
}

} // namespace

vips::VImage RawDecoder::decode(const std::string& path, std::int64_t fileSize,
                                std::int64_t maxPixels, std::stop_token stop) {
    // LibRaw keeps its whole state in one large object; it does not belong on the stack.
    auto raw = std::make_unique<LibRaw>();
    // Developed at 16 bits: lossless targets keep them, the others are made 8-bit sRGB.
    raw->imgdata.params.output_bps = 16;
    raw->imgdata.params.output_color = 1; // sRGB
    raw->imgdata.params.use_camera_wb = 1;
    raw->set_progress_handler(onProgress, &stop);
    // LibRaw reports damaged or missing data here (and would print it); any report makes
    // the picture unusable.
    int dataErrors = 0;
    raw->set_dataerror_handler([](void* count, const char*, int) { ++*static_cast<int*>(count); },
                               &dataErrors);
    // The progress handler is asked between stages; the cancel flag is also looked at
    // inside the long loops of a stage.
    const auto setCancelFlag = [&raw] { raw->setCancelFlag(); };
    std::optional<std::stop_callback<decltype(setCancelFlag)>> cancel(std::in_place, stop,
                                                                      setCancelFlag);

    const auto check = [&stop](int status) {
        if (status == LIBRAW_SUCCESS) return;
        if (status == LIBRAW_CANCELLED_BY_CALLBACK || stop.stop_requested()) throw CancelledError();
        throwUnreadableImage();
    };
    check(raw->open_file(path.c_str()));
    const auto& sizes = raw->imgdata.sizes;
    if (sizes.width == 0 || sizes.height == 0 ||
        static_cast<std::int64_t>(sizes.raw_width) * sizes.raw_height > maxPixels ||
        static_cast<std::int64_t>(sizes.width) * sizes.height > maxPixels)
        throwUnreadableImage();
    if (!rawDataFits(*raw, fileSize)) throwUnreadableImage();
    check(raw->unpack());
    if (dataErrors > 0 || raw->get_internal_data_pointer()->unpacker_data.data_error != 0 ||
        !sensorDataPresent(*raw))
        throwUnreadableImage();
    check(raw->dcraw_process());
    if (dataErrors > 0) throwUnreadableImage();
    int status = LIBRAW_SUCCESS;
    std::unique_ptr<libraw_processed_image_t, ProcessedImageDeleter> image(
        raw->dcraw_make_mem_image(&status));
    check(status);
    // The sensor data and LibRaw's four-channel working copy (10 bytes a pixel) go before
    // the picture is used; the picture itself is what the image reads, not copied.
    cancel.reset();
    raw.reset();
    // The memory image is already turned by the camera's recorded orientation.
    if (!image || image->type != LIBRAW_IMAGE_BITMAP || image->colors != 3 || image->bits != 16 ||
        static_cast<std::size_t>(image->width) * image->height * 3 * 2 > image->data_size)
        throwUnreadableImage();
    VipsImage* out = vips_image_new_from_memory(image->data, image->data_size, image->width,
                                                image->height, 3, VIPS_FORMAT_USHORT);
    if (!out) throwUnreadableImage();
    g_signal_connect(out, "close", G_CALLBACK(+[](VipsImage*, libraw_processed_image_t* data) {
                         LibRaw::dcraw_clear_mem(data);
                     }),
                     image.release());
    vips::VImage result(out);
    result.get_image()->Type = VIPS_INTERPRETATION_RGB16;
    return result;
}

} // namespace lumatra
