#pragma once
// Reads Rich Text Format into styled text.

#include "richtext/attributed_text.h"

#include <filesystem>
#include <stop_token>
#include <string_view>

namespace lumatra::RtfReader {

/// Groups may nest this deep; deeper input is refused.
inline constexpr int maxDepth = 200;
/// Larger documents are refused.
inline constexpr std::size_t maxBytes = std::size_t{512} << 20;

/// Reads an RTF document: its font and colour tables, characters as \uN (with \ucN
/// fallbacks skipped), \'hh in the declared code page, raw 8-bit text, character and
/// paragraph formatting, hyperlink fields, tables as tab-separated lines, and PNG or
/// JPEG pictures. Destinations it does not know are skipped.
///
/// Throws ConvertError::failed("Не удалось прочитать RTF: …") naming the byte where the
/// input stops being RTF it can read (not RTF at all, nesting deeper than maxDepth,
/// more than maxBytes); CancelledError when `stop` is requested.
AttributedText read(std::string_view rtf, std::stop_token stop = {});

/// Reads the TXT.rtf of an RTFD package (a folder). Refuses a package or document that
/// is a symbolic link or not a regular file with SystemError; otherwise as read().
AttributedText readPackage(const std::filesystem::path& package, std::stop_token stop = {});

} // namespace lumatra::RtfReader
