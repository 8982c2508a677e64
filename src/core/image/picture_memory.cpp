#include "image/picture_memory.h"

#include "formats/convert_error.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>

namespace lumatra::PictureMemory {
namespace {

std::mutex budgetMutex;
std::condition_variable_any budgetFreed;
std::int64_t held = 0;

std::string megapixels(double pixels) {
    return std::to_string(std::llround(pixels / 1e6)) + " Мп";
}

} // namespace

double encoderBytesPerPixel(Format format) {
    // Measured peaks over the decoded picture, RGBA, rounded up: the HEIF encoders take
    // the picture whole, convert it to YCbCr and keep their own frames; cairo's PDF
    // surface holds it as 32-bit pixels and then its colour and alpha planes again; GIF quantises
    // the whole picture at once.
    switch (format) {
    case Format::heic:
        return 24;
    case Format::avif:
        return 22;
    case Format::gif:
        return 12;
    case Format::pdf:
        return 8.5;
    default:
        return 0;
    }
}

std::int64_t maxPixels(double decoderBytesPerPixel, Format format) {
    const double perPixel = decoderBytesPerPixel + encoderBytesPerPixel(format);
    if (perPixel <= 0) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(static_cast<double>(perConversion) / perPixel);
}

std::string tooLargeText(std::int64_t width, std::int64_t height, std::int64_t limit,
                         std::string_view target) {
    std::string text = "Изображение слишком большое";
    if (!target.empty()) text += " для " + std::string(target);
    return text + ": " + std::to_string(width) + " × " + std::to_string(height) + " пикселей (" +
           megapixels(static_cast<double>(width) * static_cast<double>(height)) +
           "), можно не больше " + megapixels(static_cast<double>(limit));
}

Lease::~Lease() {
    if (m_bytes == 0) return;
    {
        const std::lock_guard lock(budgetMutex);
        held -= m_bytes;
    }
    budgetFreed.notify_all();
}

std::int64_t budget() {
    static const std::int64_t bytes = [] {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGE_SIZE);
        const std::int64_t half =
            pages > 0 && pageSize > 0 ? static_cast<std::int64_t>(pages) * pageSize / 2 : 0;
        return std::max(half, perConversion);
    }();
    return bytes;
}

Lease reserve(std::int64_t bytes, std::stop_token stop) {
    bytes = std::clamp<std::int64_t>(bytes, 0, budget());
    if (bytes == 0) return {};
    std::unique_lock lock(budgetMutex);
    if (!budgetFreed.wait(lock, stop, [bytes] { return held + bytes <= budget(); }))
        throw CancelledError();
    held += bytes;
    return Lease(bytes);
}

} // namespace lumatra::PictureMemory
