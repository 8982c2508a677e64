#pragma once
// A photograph's EXIF data added to a TIFF file libvips has written (its TIFF saver
// writes none): the camera's tags into the picture's directory, the EXIF and GPS
// directories beside it, as cameras and photo software write them.

#include <string_view>

namespace lumatra {

class OutputFile;

/// Adds the EXIF block `exif` ("Exif\0\0" and a TIFF structure, as libvips holds it) to
/// the single-picture TIFF written so far to `output`, in place. The picture's
/// orientation is written as upright (1): the pixels are upright already. Tags the block
/// holds in a shape the TIFF library does not take are left out; a block that cannot be
/// walked adds nothing. Throws the output's failure text when the file cannot be
/// changed, which leaves it unfinished.
void addExifToTiff(OutputFile& output, std::string_view exif);

} // namespace lumatra
