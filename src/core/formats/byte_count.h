#pragma once

#include <cstdint>
#include <string>

namespace lumatra {

/// A byte count the way the interface shows sizes: decimal units in Russian
/// ("0 байт", "1 байт", "2 байта", "12 КБ", "1,5 МБ", "2,25 ГБ"). Kilobytes are whole,
/// megabytes carry one decimal, larger units two; the decimal separator is a comma.
std::string formatByteCount(std::int64_t bytes);

} // namespace lumatra
