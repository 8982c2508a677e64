#pragma once
// The converter families whose libraries are large — libvips with its codecs, LibRaw and
// libheif; poppler and Pango; libavformat with libavcodec — are modules of their own,
// "liblumatra-<name>.so" beside the engine's library. Each is loaded the first time one
// of its routes runs and stays for the life of the process, so a process that converts a
// table never maps them (loading one costs tens of milliseconds, once).

#include "converter/converter.h"
#include "converter/media_args.h"
#include "formats/format.h"

#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

namespace lumatra {

/// Entries of the image module.
struct ImageFamily {
    /// ImageConverter::convert.
    void (*convert)(const std::filesystem::path& source, Format format, Quality quality,
                    const std::filesystem::path& output, std::stop_token stop);
};

/// Entries of the PDF module.
struct PdfFamily {
    /// Runs the text converter from an RTF file to a format word at a path.
    using TextConverter =
        std::function<void(const std::filesystem::path& source, const std::string& format,
                           const std::filesystem::path& output)>;
    /// PdfSource::convert: a PDF to text, rich text, a web page or page pictures; true
    /// when `output` became a folder of pages.
    bool (*fromPDF)(const std::filesystem::path& source, Format target, Quality quality,
                    const std::filesystem::path& output, const std::filesystem::path& scratch,
                    const TextConverter& textConverter, std::stop_token stop,
                    const std::function<void(double)>& progress);
};

/// Entries of the media module.
struct MediaFamily {
    /// Converter::probe.
    Converter::Probe (*probe)(const std::filesystem::path& source, std::stop_token stop);
    /// The source's cover pictures (attached picture streams) in stream order, read from
    /// the container's header alone; none when it cannot be read.
    std::vector<MediaArgs::Cover> (*covers)(const std::filesystem::path& source,
                                            std::stop_token stop);
};

/// The loaded families. Throws ConvertError::failed ("Не удалось загрузить часть
/// программы <file>: <reason>") when the module is missing or broken; a later call tries
/// again. Safe from any thread.
const ImageFamily& imageFamily();
const PdfFamily& pdfFamily();
const MediaFamily& mediaFamily();

/// The entry `symbol` of the module "liblumatra-<name>.so" beside the engine's library,
/// loading the module on first use. Throws as the families do.
void* moduleEntry(const std::string& name, const char* symbol);

} // namespace lumatra

/// Each module defines its one entry.
extern "C" {
const lumatra::ImageFamily* lumatra_image_family();
const lumatra::PdfFamily* lumatra_pdf_family();
const lumatra::MediaFamily* lumatra_media_family();
}
