#include "tools/read_to_end.h"

#include "formats/convert_error.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace lumatra {

int readToEnd(int fd, std::size_t sizeHint, std::size_t limit, std::string& bytes,
              const std::stop_token& stop) {
    constexpr std::size_t slice = 16 << 20;
    const std::size_t cap = limit < SIZE_MAX ? limit + 1 : limit;
    // One byte beyond the hint tells a file that grew from one that ended.
    bytes.assign(std::min(sizeHint, limit) + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (stop.stop_requested()) throw CancelledError();
        if (used > limit) return EFBIG;
        if (used == bytes.size()) bytes.resize(std::min(bytes.size() * 2, cap));
        const std::size_t want = std::min(slice, bytes.size() - used);
        const ssize_t n = ::read(fd, bytes.data() + used, want);
        if (n > 0) {
            used += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        break;
    }
    bytes.resize(used);
    return 0;
}

} // namespace lumatra
