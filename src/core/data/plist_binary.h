#pragma once
// The reader of binary property lists ("bplist00").

#include "data/node.h"

#include <stop_token>
#include <string_view>

namespace lumatra::Plist {

/// Whether `bytes` start as a binary property list.
bool isBinary(std::string_view bytes);

/// Reads a binary property list in time linear in its size. Dictionary keys come out
/// sorted by code point; strings of either encoding are repaired to well-formed UTF-8
/// (each invalid byte U+FFFD), zero bytes included as they are. When `onItem` is given
/// and the top object is an array, its elements go to `onItem` one by one and an empty
/// array comes back. Objects referring to themselves, nesting deeper than 1024 levels and
/// shared objects that would expand beyond the size of the file are refused with
/// ConvertError::failed; a requested stop throws CancelledError.
Node readBinary(std::string_view bytes, const ItemHandler* onItem, std::stop_token stop);

} // namespace lumatra::Plist
