#pragma once
// Pictures the image tests make for themselves, with libvips, exiftool and small hand-built
// files.

#include <vips/vips8>

#include <array>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace lumatra::test {

/// A picture of `width` × `height`: blue with a red square of a quarter of the shorter
/// side in the top-left corner; with `alpha`, the right third is fully transparent.
vips::VImage markedPicture(int width, int height, bool alpha);

/// Writes tags into `file` in place with exiftool (arguments such as "-IPTC:City=Москва");
/// throws when exiftool refuses.
void exiftoolWrite(const std::filesystem::path& file, const std::vector<std::string>& args);

/// A minimal DNG (RGGB mosaic, 16 bits) of `width` × `height` with the given TIFF
/// orientation, uncompressed or (`lossless`) compressed as lossless JPEG; the mosaic
/// fills the end of the file either way.
std::string dngFile(int width, int height, int orientation, bool lossless = false);

/// One layer of xcfFile: a rectangle of one colour (R, G, B, A) at an offset.
struct XcfLayer {
    int width, height, x, y;
    std::array<unsigned char, 4> rgba;
    bool visible = true;
};

/// A GIMP image (XCF version 0, RGB, run-length encoded tiles) of `width` × `height`
/// holding `layers`, the topmost first, each of at most 64 × 64 pixels.
std::string xcfFile(int width, int height, const std::vector<XcfLayer>& layers);

/// The pixel at x, y of an image file read by libvips (RGB or RGBA, 0–255 each).
std::vector<double> pixelAt(const std::filesystem::path& file, int x, int y);

/// `values` as big-endian or little-endian 32-bit words.
std::string be32(std::initializer_list<unsigned> values);
std::string le32(std::initializer_list<unsigned> values);

/// One field of pdfinfo's report ("Page size"), without the padding.
std::string pdfField(const std::filesystem::path& file, const std::string& name);

} // namespace lumatra::test
