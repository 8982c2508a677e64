#include "formats/byte_count.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace lumatra {
namespace {

std::string_view byteWord(std::int64_t n) {
    const std::int64_t lastTwo = n % 100;
    const std::int64_t last = n % 10;
    if (lastTwo >= 11 && lastTwo <= 14) return "байт";
    if (last == 1) return "байт";
    if (last >= 2 && last <= 4) return "байта";
    return "байт";
}

// Rounds to `decimals` places and drops trailing zeros, with a comma separator.
std::string decimal(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string text(buffer);
    if (const auto dot = text.find('.'); dot != std::string::npos) {
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
        else
            text[dot] = ',';
    }
    return text;
}

} // namespace

std::string formatByteCount(std::int64_t bytes) {
    if (bytes < 0) bytes = 0;
    if (bytes < 1000) return std::to_string(bytes) + " " + std::string(byteWord(bytes));
    struct Unit {
        const char* name;
        double size;
        int decimals;
    };
    static constexpr std::array<Unit, 5> units{
        {{"КБ", 1e3, 0}, {"МБ", 1e6, 1}, {"ГБ", 1e9, 2}, {"ТБ", 1e12, 2}, {"ПБ", 1e15, 2}}};
    const auto value = static_cast<double>(bytes);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const Unit& unit = units[i];
        const double scaled = value / unit.size;
        const double factor = std::pow(10.0, unit.decimals);
        const double rounded = std::round(scaled * factor) / factor;
        // 999 600 bytes rounds to 1000 КБ: show it as the next unit instead.
        if (rounded >= 1000 && i + 1 < units.size()) continue;
        return decimal(rounded, unit.decimals) + " " + unit.name;
    }
    return {};
}

} // namespace lumatra
