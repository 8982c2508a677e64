#pragma once
// Property lists: XML and binary files in, XML property lists (version 1.0) out.

#include "data/node.h"

#include <stop_token>
#include <string>
#include <string_view>

namespace lumatra::Plist {

/// Reads an XML or binary property list. Integers keep their sign and full 64-bit range,
/// reals become number texts, dates ISO 8601 strings in UTC with whole seconds, data
/// Base64 strings; dictionary keys come out sorted by code point. Fails with
/// ConvertError::failed when the bytes are no property list, CancelledError on a stop.
Node read(std::string_view bytes, std::stop_token stop = {});

/// As `read`, but when the top value is an array its elements go to `onItem` (when
/// given) one by one, and an empty array comes back.
Node readItems(std::string_view bytes, const ItemHandler* onItem, std::stop_token stop = {});

/// The tree as an XML property list 1.0, as PlistWriter writes it.
std::string writeXml(const Node& tree);

/// Seconds since 1970-01-01T00:00:00Z as ISO 8601 in UTC, whole seconds (rounded down).
std::string isoDate(double unixSeconds);

/// Standard Base64 with padding and no line breaks.
std::string base64(std::string_view bytes);

} // namespace lumatra::Plist
