#include "data/plist_bridge.h"

#include "data/plist_binary.h"
#include "data/plist_parts.h"
#include "data/plist_writer.h"
#include "data/plist_xml.h"
#include "formats/convert_error.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace lumatra::Plist {

ConvertError unreadable() {
    return ConvertError::failed("Не удалось прочитать список свойств");
}

ConvertError tooDeep() {
    return ConvertError::failed(
        "Не удалось прочитать список свойств: слишком глубокая вложенность");
}

std::string realText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

Node read(std::string_view bytes, std::stop_token stop) {
    return readItems(bytes, nullptr, std::move(stop));
}

Node readItems(std::string_view bytes, const ItemHandler* onItem, std::stop_token stop) {
    if (isBinary(bytes)) return readBinary(bytes, onItem, std::move(stop));
    return readXml(bytes, onItem, std::move(stop));
}

std::string writeXml(const Node& tree) {
    Sink sink;
    PlistWriter writer(sink);
    writer.begin();
    writer.value(tree);
    writer.end();
    return std::move(sink.text());
}

std::string isoDate(double unixSeconds) {
    // Beyond about ±290 million years the count of days no longer fits; no calendar
    // date is meaningful there.
    if (!std::isfinite(unixSeconds) || std::fabs(unixSeconds) > 9.0e15)
        return realText(unixSeconds);
    const auto seconds = static_cast<std::int64_t>(std::floor(unixSeconds));
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's civil_from_days).
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    char buffer[64];
    const int length = std::snprintf(
        buffer, sizeof buffer, "%s%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", year < 0 ? "-" : "",
        static_cast<long long>(year < 0 ? -year : year), static_cast<long long>(month),
        static_cast<long long>(day), static_cast<long long>(rest / 3600),
        static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::string base64(std::string_view bytes) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        out.push_back(alphabet[group >> 18]);
        out.push_back(alphabet[group >> 12 & 63]);
        out.push_back(alphabet[group >> 6 & 63]);
        out.push_back(alphabet[group & 63]);
    }
    if (i + 1 == bytes.size()) {
        const std::uint32_t group = byte(i) << 16;
        out.push_back(alphabet[group >> 18]);
        out.push_back(alphabet[group >> 12 & 63]);
        out.append("==");
    } else if (i + 2 == bytes.size()) {
        const std::uint32_t group = byte(i) << 16 | byte(i + 1) << 8;
        out.push_back(alphabet[group >> 18]);
        out.push_back(alphabet[group >> 12 & 63]);
        out.push_back(alphabet[group >> 6 & 63]);
        out.push_back('=');
    }
    return out;
}

} // namespace lumatra::Plist
