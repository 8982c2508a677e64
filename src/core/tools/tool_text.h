#pragma once
// Makes a line an external program wrote fit to be shown to the user.

#include <string>
#include <string_view>

namespace lumatra {

/// `line` without terminal escape sequences and other control characters (tabs stay),
/// and without memory addresses: ffmpeg's "[mp3 @ 0x5642…] text" becomes "[mp3] text",
/// and any other hexadecimal number of six or more digits after "0x" is dropped.
std::string cleanToolLine(std::string_view line);

} // namespace lumatra
