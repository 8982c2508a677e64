#pragma once
// What a picture costs in memory while it is converted: each decoder and encoder holds
// some bytes per pixel, the sum is kept under a ceiling per conversion, and the
// conversions running at once in this process share one budget.

#include "formats/format.h"

#include <cstdint>
#include <stop_token>
#include <string>

namespace lumatra::PictureMemory {

/// Bytes one conversion may hold for its picture, besides the few tens of megabytes of
/// the libraries themselves: the whole stays under 2 GiB.
inline constexpr std::int64_t perConversion = 1900LL << 20;

/// Bytes per pixel an encoder holds while it writes `format`. PNG, JPEG and TIFF are
/// written in strips and hold none; icons are drawn from a copy shrunk while read.
double encoderBytesPerPixel(Format format);

/// The most pixels a picture may have for `format` when its decoder holds
/// `decoderBytesPerPixel` bytes per pixel.
std::int64_t maxPixels(double decoderBytesPerPixel, Format format);

/// "Изображение слишком большое: 20000 × 20000 пикселей (400 Мп), можно не больше
/// 300 Мп"; with a target, "… слишком большое для HEIC: …".
std::string tooLargeText(std::int64_t width, std::int64_t height, std::int64_t limit,
                         std::string_view target = {});

/// A share of the process's picture budget, given back when destroyed.
class Lease {
public:
    Lease() = default;
    explicit Lease(std::int64_t bytes) : m_bytes(bytes) {}
    Lease(Lease&& other) noexcept : m_bytes(other.m_bytes) { other.m_bytes = 0; }
    Lease& operator=(Lease&&) = delete;
    ~Lease();

private:
    std::int64_t m_bytes = 0;
};

/// Bytes all conversions of this process may hold at once: half the machine's memory,
/// and at least one conversion's ceiling.
std::int64_t budget();

/// Takes `bytes` (at most the whole budget) of the budget, waiting while other
/// conversions hold too much of it. Throws CancelledError when `stop` is requested
/// while it waits.
Lease reserve(std::int64_t bytes, std::stop_token stop);

} // namespace lumatra::PictureMemory
