#pragma once
// Reading an open file whole, bounded, for every reader that takes its input in one piece.

#include <cstddef>
#include <stop_token>
#include <string>

namespace lumatra {

/// Reads `fd` from its offset to its end into `bytes` (replacing what it held).
/// `sizeHint` sizes the first buffer; the file may grow or shrink meanwhile. Returns 0,
/// EFBIG as soon as more than `limit` bytes have arrived, or the errno of a failed read.
/// A stop requested before a slice of 16 MB throws CancelledError.
int readToEnd(int fd, std::size_t sizeHint, std::size_t limit, std::string& bytes,
              const std::stop_token& stop = {});

} // namespace lumatra
