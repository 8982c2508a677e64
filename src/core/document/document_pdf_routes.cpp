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
    const auto convertText = [this, &stop, &scratch](const std::filesystem::path& from,
                                                     const std::string& format,
                                                     const std::filesystem::path& to) {
        textutilInto(from, format, to, scratch, stop);
    };
    return pdfFamily().fromPDF(source, target, quality, output, scratch, convertText, stop,
                               progress);
}

void DocumentConverter::toPDF(const std::filesystem::path& workingSource,
                              const std::filesystem::path& output,
                              const std::filesystem::path& scratch, std::stop_token stop) const {
    textutilInto(workingSource, "pdf", output, scratch, stop);
}

} // namespace lumatra
