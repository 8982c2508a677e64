#pragma once
// SVG drawings with filters. A filter is drawn over its whole region whatever part of the
// picture is asked for, so libvips' strips would draw it once per strip: a filtered
// drawing is rendered by librsvg in one piece instead, its area times what its filters
// cost bounded first, its time bounded while it runs.

#include "image/image_io.h"

#include <vips/vips8>

#include <optional>
#include <stop_token>
#include <string>

namespace lumatra::SvgDrawing {

/// Pixels × cost per pixel a filtered drawing may ask for.
inline constexpr double maxFilterWork = 256e6;
/// How long one drawing may take.
inline constexpr std::chrono::seconds maxRenderTime{60};

/// The drawing's text, unpacked when gzipped; nothing when it is longer than 64 MB.
std::optional<std::string> text(const SourceFile& source);

/// What the filter primitives of a drawing cost per pixel of its canvas, 0 without any: a
/// blur is three box blurs, noise four per octave, convolutions, morphology and lighting
/// eight, the other primitives one. A text too long to read counts as 16.
double filterCost(const std::optional<std::string>& text);

/// The drawing rendered at `width` × `height` (libvips' measure of it) as 8-bit RGBA.
/// Throws ConvertError "Рисунок SVG с фильтрами слишком большой: …" when its area times
/// (1 + `cost`) is above maxFilterWork, "Рисунок SVG рисуется слишком долго" past
/// maxRenderTime, "Не удалось открыть изображение" when librsvg cannot draw it, and
/// CancelledError at once when `stop` is requested (the drawing is left to end aside).
vips::VImage renderWhole(const std::string& text, int width, int height, double cost,
                         std::stop_token stop);

} // namespace lumatra::SvgDrawing
