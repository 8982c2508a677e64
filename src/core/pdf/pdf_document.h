#pragma once
// A PDF opened for reading: its pages, their text and their pictures.

#include "formats/format.h"
#include "richtext/attributed_text.h"

#include <filesystem>
#include <memory>
#include <stop_token>
#include <string>

namespace poppler {
class document;
class page;
} // namespace poppler

namespace lumatra {

/// Page pictures are refused beyond this many pixels (about a large poster at 300 dpi),
/// so that a page of absurd size cannot exhaust memory.
inline constexpr double maxPagePixels = 64.0 * 1024 * 1024;

/// An opened, unlocked PDF. Move-only; closes the document when destroyed.
class PdfDocument {
public:
    /// Width and height of a page picture in pixels, unrounded.
    struct PictureSize {
        double width = 0;
        double height = 0;
    };

    /// Opens `source`, which must be a regular file (a symbolic link to one is
    /// followed). Throws ConvertError::failed("Не удалось открыть PDF") when it cannot be
    /// opened or is not a PDF, ConvertError::failed("PDF защищён паролем") when it is
    /// locked.
    static PdfDocument open(const std::filesystem::path& source);

    PdfDocument(PdfDocument&&) noexcept;
    PdfDocument& operator=(PdfDocument&&) noexcept;
    ~PdfDocument();

    int pageCount() const;

    /// Every page operation below throws ConvertError::failed("PDF повреждён: страницу N
    /// не удалось прочитать.") for a page the document counts but cannot give.

    /// The text of page `index` (from 0) in reading order, lines ended by "\n"; empty
    /// when the page has no text or does not exist.
    std::string pageText(int index) const;

    /// Every page's text, pages separated by "\n".
    std::string plainText(std::stop_token stop = {}) const;

    /// The words of page `index` in reading order with the family, size, weight and
    /// slant their fonts tell; lines end with "\n", the last without. With `paragraphs`,
    /// the lines of one paragraph (same size, no gap, the line before running on to the
    /// right edge) are joined by a space instead, and a word hyphenated at a line's end
    /// is mended.
    AttributedText pageAttributedText(int index, bool paragraphs = false) const;

    /// Every page's styled text, each followed by one "\n".
    AttributedText attributedText(std::stop_token stop = {}) const;

    /// The size of page `index` at `dpi`: its crop box, width and height exchanged when
    /// the page is turned by a quarter.
    PictureSize pictureSize(int index, int dpi) const;

    /// Draws page `index` at `dpi` and writes it to `file` (created, never replaced) as
    /// PNG (`format` png) or JPEG at quality 90 (any other format). Does nothing when
    /// the page does not exist. Throws ConvertError::failed("Не удалось отрисовать
    /// страницу N") when the page cannot be drawn or the file cannot be created, and
    /// ConvertError::failed("Не удалось записать страницу N") when it cannot be written.
    void renderPage(int index, int dpi, Format format, const std::filesystem::path& file) const;

private:
    explicit PdfDocument(std::unique_ptr<poppler::document> document);
    std::unique_ptr<poppler::page> page(int index) const;

    std::unique_ptr<poppler::document> m_document;
};

} // namespace lumatra
