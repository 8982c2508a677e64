#pragma once
// The part of the ffmpeg command line between input and output for each target.

#include "formats/format.h"

#include <string>
#include <vector>

namespace lumatra::MediaArgs {

/// Stream selection, filters, codecs and their settings for an audio or video target
/// at a quality. `hasAudio` decides whether a sound track is mapped into a video.
std::vector<std::string> make(Format format, Quality quality, bool hasAudio);

} // namespace lumatra::MediaArgs
