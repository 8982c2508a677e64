#pragma once
// The part of the ffmpeg command line between input and output for each target.

#include "formats/format.h"

#include <string>
#include <vector>

namespace lumatra::MediaArgs {

/// How a cover picture goes into another container: as it is (JPEG, PNG), drawn again
/// as PNG (pictures only some containers take), or left behind (nothing here reads it).
enum class CoverFit { asIs, png, none };

/// One attached picture of the source: its stream index and how it fits.
struct Cover {
    int stream = 0;
    CoverFit fit = CoverFit::asIs;
};

/// Stream selection, filters, codecs and their settings for an audio or video target
/// at a quality. A video target takes the first sound track where there is one ("0:a:0?"),
/// so the list does not wait for the probe.
std::vector<std::string> make(Format format, Quality quality);

/// Whether the target's container takes the source's cover as a picture stream of its
/// own. Ogg and Opus hold it as a comment instead, which the media route adds.
bool holdsCoverStream(Format format);

/// The arguments, added after make()'s, that carry `covers` (the source's attached
/// pictures in stream order) into a target that holds them as picture streams.
std::vector<std::string> coverCodecs(const std::vector<Cover>& covers);

} // namespace lumatra::MediaArgs
