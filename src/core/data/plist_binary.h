#pragma once
// The reader of binary property lists ("bplist00").

#include "data/node.h"

#include <functional>
#include <stop_token>
#include <string>
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

/// Receives the members of a top-level dictionary in key order: `onKey` names a member;
/// then its value comes whole to `onValue`, or, when it is an array, its elements come one
/// by one to `onItem`, followed by `onArrayEnd`.
struct MemberHandlers {
    std::function<void(std::string&& key)> onKey;
    std::function<void(Node&& value)> onValue;
    ItemHandler onItem;
    std::function<void()> onArrayEnd;
};

/// When the top object of a binary property list is a dictionary, reads it member by
/// member into `handlers` and answers true; otherwise reads nothing and answers false.
/// Fails as `readBinary` does.
bool readBinaryMembers(std::string_view bytes, const MemberHandlers& handlers,
                       std::stop_token stop);

} // namespace lumatra::Plist
