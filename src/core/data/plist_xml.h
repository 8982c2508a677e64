#pragma once
// The reader of XML property lists.

#include "data/node.h"

#include <stop_token>
#include <string_view>

namespace lumatra::Plist {

/// Reads an XML property list with a streaming XML reader, counting the nesting itself:
/// no input can make it recurse. Integers are written as plain decimal digits, reals as
/// the shortest text that reads back, dates as ISO 8601 in UTC, data as Base64;
/// dictionary keys come out sorted by code point. When `onItem` is given and the top
/// value is an array, its elements go to `onItem` one by one and an empty array comes
/// back. Malformed XML, unknown elements, values that do not read, entity references and
/// nesting deeper than 1024 levels fail with ConvertError::failed; a requested stop
/// throws CancelledError.
Node readXml(std::string_view bytes, const ItemHandler* onItem, std::stop_token stop);

} // namespace lumatra::Plist
