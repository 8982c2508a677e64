#pragma once
// Pieces shared by the property-list readers and writer.

#include "formats/convert_error.h"

#include <cstddef>
#include <string>

namespace lumatra::Plist {

/// Containers may nest this deep, as in JSON documents; one more level is refused.
constexpr std::size_t maxDepth = 1024;

/// Seconds from 1970-01-01 to 2001-01-01, where property-list dates count from.
constexpr double appleEpoch = 978307200;

/// "Не удалось прочитать список свойств".
ConvertError unreadable();

/// The same, naming nesting deeper than `maxDepth`.
ConvertError tooDeep();

/// The shortest decimal text that reads back as `value` ("inf", "-inf", "nan" for the
/// values without a number form).
std::string realText(double value);

} // namespace lumatra::Plist
