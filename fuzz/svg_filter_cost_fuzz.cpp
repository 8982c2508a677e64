// The SVG filter scan on arbitrary text: it must never read outside the text, and the cost
// it finds is a number at least 0 (infinite only when a feTurbulence asks for that many
// octaves), so that the bound it feeds always decides.
#include "image/svg_drawing.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<std::string> text(std::string(reinterpret_cast<const char*>(data), size));
    const double cost = lumatra::SvgDrawing::filterCost(text);
    if (!(cost >= 0)) std::abort();
    return 0;
}
