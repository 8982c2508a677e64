#pragma once
// Places the engine's result at the caller's output path, whole or not at all.

#include "request.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace lumatra::textutil {

/// Plain text as we write it: UTF-8 without a byte-order mark, lines ended by LF.
std::string normalizedText(std::string_view text);

/// `rtf` without the groups that repeat a picture for old readers ({\nonshppict …},
/// mostly an uncompressed metafile many times the size of the picture itself, which
/// stays as its own PNG or JPEG bytes).
std::string withoutPictureFallbacks(std::string_view rtf);

/// Moves the engine's `result` (in the scratch folder) to `output`: text normalised,
/// rich text without picture fallbacks, rtfd as a folder holding TXT.rtf. The output appears by one
/// rename of a complete item made beside it, replacing an existing file (not a folder). Throws
/// ToolError.
void placeOutput(const std::filesystem::path& result, OutputFormat format,
                 const std::filesystem::path& output);

} // namespace lumatra::textutil
