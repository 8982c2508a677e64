#pragma once
// A PDF as the source of a document conversion: its text for the text formats,
// pictures of its pages for PNG and JPG.

#include "formats/format.h"

#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>

namespace lumatra::PdfSource {

/// Runs the text converter from an RTF file to a format word ("docx", "html") at a path.
using TextConverter =
    std::function<void(const std::filesystem::path& source, const std::string& format,
                       const std::filesystem::path& output)>;

/// Dots per inch of page pictures: 300, 200, 120.
int dpi(Quality quality);

/// The most pages turned into pictures: a thousand pages take about ten minutes and a
/// few gigabytes of files already.
inline constexpr int maxPicturePages = 1000;

/// "Страница " and the page number (from 1) padded with zeros to the digits of
/// `pageCount`, then "." and the format's extension.
std::string pageFileName(int number, int pageCount, Format format);

/// Converts the PDF `source` to `target` at `output`; returns true when `output` became
/// a folder of page pictures.
///
/// txt: the document's plain text. rtf: the text of each page followed by a line feed,
/// as RTF. docx, html: that RTF written to "document.rtf" in `scratch`, then
/// `textConverter`. png, jpg: one picture at `output` for a one-page PDF; otherwise a
/// folder at `output` with one picture per page, rendered and written one at a time.
/// Success always leaves something of every page.
///
/// Throws ConvertError::failed with "Не удалось открыть PDF", "PDF защищён паролем",
/// "В PDF нет текста — похоже, это скан. Переведите его в PNG или JPG." (text targets of
/// a PDF whose pages all read but hold no text), "PDF повреждён: в нём не найдено ни
/// одной страницы.", "Страниц в PDF: <n>, а в картинки переводятся документы до 1000
/// страниц. Разделите его на части." (png, jpg) or the page errors of PdfDocument (a page that
/// cannot be read fails every target); ConvertError::unsupported("PDF → <title>") for other
/// targets; CancelledError when `stop` is requested; SystemError when a file or folder cannot be
/// written. `progress` hears the fraction of pages drawn.
bool convert(const std::filesystem::path& source, Format target, Quality quality,
             const std::filesystem::path& output, const std::filesystem::path& scratch,
             const TextConverter& textConverter, std::stop_token stop = {},
             const std::function<void(double)>& progress = {});

} // namespace lumatra::PdfSource
