#pragma once
// Paginated PDF from styled text.

#include "richtext/attributed_text.h"

#include <filesystem>
#include <stop_token>

namespace lumatra::PDFWriter {

/// A4 in points, the margin on every side, and the text frame they leave.
inline constexpr double pageWidth = 595.28;
inline constexpr double pageHeight = 841.89;
inline constexpr double margin = 56;
inline constexpr double frameWidth = pageWidth - 2 * margin;   // 483.28
inline constexpr double frameHeight = pageHeight - 2 * margin; // 729.89
/// Text beyond this many pages is left out.
inline constexpr int maxPages = 10000;

/// Lays `text` out into frames of frameWidth × frameHeight and draws each on its own A4
/// page at (margin, margin) from the top-left corner, with fonts embedded. Empty text
/// gives one blank page; no page is left without text, except that one.
///
/// `file` is created (an existing item there is an error, a symbolic link is never
/// followed). Throws ConvertError::failed("Не удалось создать PDF") when the file cannot
/// be created or written, and CancelledError when `stop` is requested; either way the
/// file is removed again.
void write(const AttributedText& text, const std::filesystem::path& file,
           std::stop_token stop = {});

} // namespace lumatra::PDFWriter
