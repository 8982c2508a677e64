// The PDF module's entry: PDF sources through PdfSource.
#include "converter/families.h"
#include "pdf/pdf_source.h"

extern "C" const lumatra::PdfFamily* lumatra_pdf_family() {
    static const lumatra::PdfFamily family{&lumatra::PdfSource::convert};
    return &family;
}
