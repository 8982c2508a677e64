#pragma once
// The reader of XML property lists.

#include "data/node.h"
#include "data/plist_binary.h"

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

/// Raised by `readXmlMembers` when the keys of the top dictionary are not in strictly
/// increasing order, so that they cannot be handed out as they come.
struct UnsortedKeys {};

/// As `readXml`, but when the top value is a dictionary whose keys come in order (as the
/// usual writers put them), its members go to `members` one by one, arrays in them item
/// by item, and an empty object comes back with `streamed` set. Keys out of order throw
/// UnsortedKeys after some members were handed out; the caller starts again with
/// `readXml`.
Node readXmlMembers(std::string_view bytes, const ItemHandler* onItem,
                    const MemberHandlers& members, bool& streamed, std::stop_token stop);

} // namespace lumatra::Plist
