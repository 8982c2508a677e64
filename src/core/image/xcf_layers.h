#pragma once
// The layer directory of a GIMP image (XCF): where each layer lies and whether it shows,
// read without touching pixel data. ImageMagick hands the layers over one picture each;
// this tells how to stack them into what GIMP shows.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumatra::Xcf {

struct Layer {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::int32_t x = 0; // offset of the layer's top left corner on the canvas
    std::int32_t y = 0;
    bool visible = true;
    /// Layers inside a group are stored beside the group, which holds their mix already.
    bool inGroup = false;
    /// 0 (clear) to 255 (opaque).
    std::uint32_t opacity = 255;
};

struct Image {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    /// As stored: the topmost layer first.
    std::vector<Layer> layers;
};

/// At most this many layers are read; a file listing more is refused.
inline constexpr std::size_t maxLayers = 256;

/// Reads `count` bytes at `offset` of the file; fewer (or none) at its end.
using ReadAt = std::function<std::string(std::uint64_t offset, std::size_t count)>;

/// The canvas and layers of an XCF file of versions 0 to 3 (32-bit offsets, 8-bit RGB or
/// grey), or no value when the file is anything else, is damaged, or lists more than
/// `maxLayers` layers. Reads only headers, a few bytes at a time.
std::optional<Image> readLayers(const ReadAt& read);

} // namespace lumatra::Xcf
