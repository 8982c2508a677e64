#pragma once
// Writes styled text as Rich Text Format.

#include "richtext/attributed_text.h"

#include <string>

namespace lumatra::RtfWriter {

/// The whole text as an RTF document: a font table of the families used, a colour
/// table, paragraphs with their alignment, indents and spacing, runs with their font,
/// size, weight, slant, underline, strike-through and colours, hyperlinks as fields and
/// pictures as \pict groups. Every character outside ASCII is written as \uN, so the
/// document is plain ASCII. Never fails.
std::string write(const AttributedText& text);

} // namespace lumatra::RtfWriter
