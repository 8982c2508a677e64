#pragma once
// Fresh names for scratch items.

#include <string>

namespace lumatra {

/// A random (version 4) UUID in its 36-character upper-case form.
std::string makeUuid();

} // namespace lumatra
