#pragma once
// Writes styled text as Rich Text Format.

#include "richtext/attributed_text.h"

#include <string>

namespace lumatra::RtfWriter {

/// The whole text as an RTF document: a font table of the families used, left-aligned
/// paragraphs, runs with their font, size, weight and slant. Every character outside
/// ASCII is written as \uN, so the document is plain ASCII. Never fails.
std::string write(const AttributedText& text);

} // namespace lumatra::RtfWriter
