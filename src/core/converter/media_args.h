#pragma once
// The part of the ffmpeg command line between input and output for each target.

#include "formats/format.h"

#include <string>
#include <vector>

namespace lumatra::MediaArgs {

/// Stream selection, filters, codecs and their settings for an audio or video target
/// at a quality. A video target takes the first sound track where there is one ("0:a:0?"),
/// so the list does not wait for the probe.
std::vector<std::string> make(Format format, Quality quality);

/// Whether the target's container takes the source's cover as a picture stream of its
/// own. Ogg and Opus hold it as a comment instead, which the media route adds.
bool holdsCoverStream(Format format);

} // namespace lumatra::MediaArgs
