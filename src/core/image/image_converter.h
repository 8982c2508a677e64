#pragma once
// Still images to still images, icons and one-page PDFs.

#include "formats/format.h"
#include <array>
#include <filesystem>
#include <stop_token>

namespace lumatra {

class ImageConverter {
public:
    /// Renditions of an ICO file and of an ICNS file, in the order they are written.
    static constexpr std::array<int, 6> icoSizes{256, 128, 64, 48, 32, 16};
    static constexpr std::array<int, 7> icnsSizes{1024, 512, 256, 128, 64, 32, 16};

    /// Converts the first picture of `source`, turned upright, to `format` and writes it
    /// to `output`, which must not exist yet. JPG and BMP are flattened onto white;
    /// JPG, HEIC and AVIF are lossy at `quality` and keep the source's EXIF (with GPS) and
    /// IPTC data, orientation set to upright; the other formats carry no metadata. ICO
    /// and ICNS hold the renditions above, PDF one page (see ImagePdf).
    ///
    /// Throws ConvertError: unsupported("фото → <title>") for a target that is not an
    /// image format or pdf, the failures of ImageDecoder::decode for the source, "Изображение
    /// слишком большое для <title>: …" when the encoder of the target would hold more than
    /// PictureMemory::perConversion, "Система не умеет писать <title>" when no encoder for
    /// the format is installed, "Не удалось записать <title>" (for PDF "Не удалось создать
    /// PDF") when encoding or writing fails, diskFullText when the disk is full; and
    /// CancelledError within a second of `stop` being requested, also while it waits for
    /// the memory other conversions hold (PictureMemory::reserve). On failure nothing is
    /// left at `output`.
    static void convert(const std::filesystem::path& source, Format format, Quality quality,
                        const std::filesystem::path& output, std::stop_token stop = {});
};

} // namespace lumatra
