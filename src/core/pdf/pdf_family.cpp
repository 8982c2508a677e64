// The PDF module's entry: PDF sources through PdfSource, and an RTFD package laid out on
// pages through the RTF reader and the PDF writer.
#include "converter/families.h"
#include "pdf/pdf_source.h"
#include "pdf/pdf_writer.h"
#include "richtext/attributed_text.h"
#include "richtext/rtf_reader.h"

namespace {

void packageToPDF(const std::filesystem::path& package, const std::filesystem::path& output,
                  std::stop_token stop) {
    const lumatra::AttributedText text = lumatra::RtfReader::readPackage(package, stop);
    lumatra::PDFWriter::write(text, output, stop);
}

} // namespace

extern "C" const lumatra::PdfFamily* lumatra_pdf_family() {
    static const lumatra::PdfFamily family{&lumatra::PdfSource::convert, &packageToPDF};
    return &family;
}
