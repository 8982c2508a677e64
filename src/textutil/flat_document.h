#pragma once
// Edits of a flat ODF text document (one XML file, pictures inside) between the
// engine's two steps: the engine writes any document it opened as flat ODF, we adjust
// it as text, and the engine opens the result for the final export.

#include <string>
#include <string_view>

namespace lumatra::textutil {

/// `xml` with every page layout set to an upright A4 page (595.28 × 841.89 points) with
/// 56-point margins on every side, the page geometry of our PDF output.
std::string withA4Pages(std::string_view xml);

/// `xml` with list bullets drawn from the private-use area of a symbol font (Word's
/// standard bullet is U+F0B7 in Symbol) replaced by their Unicode characters (U+2022 and
/// the like) in the text's own font, so that a PDF shows and extracts real bullets.
std::string withUnicodeBullets(std::string_view xml);

/// `xml` without its metadata (title, authors, dates, statistics: the office:meta
/// element's content), which a PDF would otherwise carry as document information.
std::string withoutMetadata(std::string_view xml);

/// `xml` without its comments (office:annotation elements and their range ends). The
/// engine we run has no windows for comments and refuses documents holding any.
std::string withoutAnnotations(std::string_view xml);

} // namespace lumatra::textutil
