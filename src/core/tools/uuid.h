#pragma once
// Fresh names for scratch items.

#include <string>
#include <string_view>

namespace lumatra {

/// A random (version 4) UUID in its 36-character upper-case form.
std::string makeUuid();

/// Whether `text` has that form (36 characters, upper-case hexadecimal digits in groups
/// 8-4-4-4-12).
bool isUuid(std::string_view text);

} // namespace lumatra
