// The document converter's PDF routes: a PDF source read by poppler in the PDF module,
// and any document to PDF through the text converter, whose office engine lays it out.
#include "document/document_converter.h"

#include "converter/families.h"
#include "formats/convert_error.h"

namespace lumatra {

bool DocumentConverter::fromPDF(const std::filesystem::path& source, Format target, Quality quality,
                                const std::filesystem::path& output,
                                const std::filesystem::path& scratch, const Progress& progress,
                                std::stop_token stop) const {
    const auto convertText = [this, &stop](const std::filesystem::path& from,
                                           const std::string& format,
                                           const std::filesystem::path& to) {
        textutil(from, format, to, stop);
        std::error_code error;
        if (!std::filesystem::exists(to, error))
            throw ConvertError::failed("Конвертер документов не создал файл");
    };
    return pdfFamily().fromPDF(source, target, quality, output, scratch, convertText, stop,
                               progress);
}

void DocumentConverter::toPDF(const std::filesystem::path& workingSource,
                              const std::filesystem::path& output, std::stop_token stop) const {
    textutil(workingSource, "pdf", output, stop);
    std::error_code error;
    if (!std::filesystem::exists(output, error))
        throw ConvertError::failed("Конвертер документов не создал файл");
}

} // namespace lumatra
