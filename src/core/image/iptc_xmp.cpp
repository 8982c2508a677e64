#include "image/iptc_xmp.h"

#include "text/utf8.h"

#include <array>
#include <vector>

namespace lumatra::IptcXmp {
namespace {

enum class Shape {
    text, // one value
    bag,  // an unordered list (keywords)
    seq,  // an ordered list (authors)
    alt,  // a text in the default language
};

struct Field {
    std::uint8_t dataset; // of the application record, 2
    std::string_view property;
    Shape shape;
};

// The IPTC Core mapping of the IIM datasets to XMP properties, in the order written.
constexpr std::array<Field, 20> fields{{
    {5, "dc:title", Shape::alt},
    {120, "dc:description", Shape::alt},
    {25, "dc:subject", Shape::bag},
    {80, "dc:creator", Shape::seq},
    {116, "dc:rights", Shape::alt},
    {105, "photoshop:Headline", Shape::text},
    {85, "photoshop:AuthorsPosition", Shape::text},
    {122, "photoshop:CaptionWriter", Shape::text},
    {110, "photoshop:Credit", Shape::text},
    {115, "photoshop:Source", Shape::text},
    {40, "photoshop:Instructions", Shape::text},
    {103, "photoshop:TransmissionReference", Shape::text},
    {15, "photoshop:Category", Shape::text},
    {20, "photoshop:SupplementalCategories", Shape::bag},
    {10, "photoshop:Urgency", Shape::text},
    {90, "photoshop:City", Shape::text},
    {95, "photoshop:State", Shape::text},
    {101, "photoshop:Country", Shape::text},
    {100, "Iptc4xmpCore:CountryCode", Shape::text},
    {92, "Iptc4xmpCore:Location", Shape::text},
}};

constexpr std::string_view dateProperty = "photoshop:DateCreated";

// A dataset's values beyond this many (keywords, mostly) are dropped.
constexpr std::size_t maxValues = 1000;

struct Dataset {
    std::uint8_t record;
    std::uint8_t number;
    std::string_view value;
};

// The datasets of an IIM stream in order, up to the first damage.
std::vector<Dataset> datasets(std::string_view iim) {
    std::vector<Dataset> out;
    std::size_t at = 0;
    while (at + 5 <= iim.size() && iim[at] == '\x1C') {
        const auto byte = [&iim](std::size_t i) { return static_cast<std::uint8_t>(iim[i]); };
        const std::uint8_t record = byte(at + 1);
        const std::uint8_t number = byte(at + 2);
        std::size_t length = static_cast<std::size_t>(byte(at + 3)) << 8 | byte(at + 4);
        at += 5;
        if (length & 0x8000) {
            // An extended dataset: the low bits count the bytes of the real length.
            const std::size_t digits = length & 0x7FFF;
            if (digits == 0 || digits > 4 || at + digits > iim.size()) break;
            length = 0;
            for (std::size_t i = 0; i < digits; ++i)
                length = length << 8 | byte(at + i);
            at += digits;
        }
        if (length > iim.size() - at) break;
        out.push_back({record, number, iim.substr(at, length)});
        at += length;
    }
    return out;
}

// Text as XML character data: UTF-8 (or Latin-1 made UTF-8), trailing padding dropped,
// markup escaped, and control characters XML cannot hold left out.
std::string xmlText(std::string_view value, bool utf8) {
    while (!value.empty() && (value.back() == '\0' || value.back() == ' '))
        value.remove_suffix(1);
    std::string text;
    if (utf8 || utf8::isValid(value)) {
        utf8::appendRepaired(text, value);
    } else {
        for (const char c : value)
            utf8::appendCodePoint(text, static_cast<unsigned char>(c));
    }
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\r':
            out += "&#xD;";
            break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\n' || c == '\t') out += c;
            break;
        }
    }
    return out;
}

bool allDigits(std::string_view text) {
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return !text.empty();
}

// IIM's date (CCYYMMDD) and time (HHMMSS±HHMM) as an XMP date; empty when malformed.
std::string xmpDate(std::string_view date, std::string_view time) {
    if (date.size() != 8 || !allDigits(date)) return {};
    std::string out = std::string(date.substr(0, 4)) + "-" + std::string(date.substr(4, 2)) + "-" +
                      std::string(date.substr(6, 2));
    if (time.size() >= 6 && allDigits(time.substr(0, 6))) {
        out += "T" + std::string(time.substr(0, 2)) + ":" + std::string(time.substr(2, 2)) + ":" +
               std::string(time.substr(4, 2));
        if (time.size() == 11 && (time[6] == '+' || time[6] == '-') && allDigits(time.substr(7)))
            out += std::string(1, time[6]) + std::string(time.substr(7, 2)) + ":" +
                   std::string(time.substr(9, 2));
    }
    return out;
}

void appendProperty(std::string& out, std::string_view name, Shape shape,
                    const std::vector<std::string>& values) {
    out += "   <";
    out += name;
    out += ">";
    switch (shape) {
    case Shape::text:
        out += values.front();
        break;
    case Shape::alt:
        out += "<rdf:Alt><rdf:li xml:lang=\"x-default\">" + values.front() + "</rdf:li></rdf:Alt>";
        break;
    case Shape::bag:
    case Shape::seq: {
        const char* list = shape == Shape::bag ? "rdf:Bag" : "rdf:Seq";
        out += "<";
        out += list;
        out += ">";
        for (const std::string& value : values)
            out += "<rdf:li>" + value + "</rdf:li>";
        out += "</";
        out += list;
        out += ">";
        break;
    }
    }
    out += "</";
    out += name;
    out += ">\n";
}

std::uint32_t bigEndian(std::string_view bytes, std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

std::uint32_t littleEndian(std::string_view bytes, std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

} // namespace

std::string mergedXmp(std::string_view iim, std::string_view sourceXmp) {
    const std::vector<Dataset> all = datasets(iim);
    bool utf8 = false;
    std::array<std::vector<std::string>, fields.size()> values;
    std::string_view date;
    std::string_view time;
    for (const Dataset& dataset : all) {
        // The envelope's coded character set "ESC % G" announces UTF-8.
        if (dataset.record == 1 && dataset.number == 90 && dataset.value == "\x1B%G") utf8 = true;
        if (dataset.record != 2) continue;
        if (dataset.number == 55 && date.empty()) date = dataset.value;
        if (dataset.number == 60 && time.empty()) time = dataset.value;
    }
    for (const Dataset& dataset : all) {
        if (dataset.record != 2) continue;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].dataset != dataset.number) continue;
            const bool list = fields[i].shape == Shape::bag || fields[i].shape == Shape::seq;
            if ((!list && !values[i].empty()) || values[i].size() == maxValues) continue;
            std::string text = xmlText(dataset.value, utf8);
            if (!text.empty()) values[i].push_back(std::move(text));
        }
    }

    // What the source's own XMP already says stays as it says it.
    const auto absent = [sourceXmp](std::string_view property) {
        return sourceXmp.find(property) == std::string_view::npos;
    };
    std::string properties;
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (!values[i].empty() && absent(fields[i].property))
            appendProperty(properties, fields[i].property, fields[i].shape, values[i]);
    if (const std::string created = xmpDate(date, time); !created.empty() && absent(dateProperty))
        appendProperty(properties, dateProperty, Shape::text, {created});
    if (properties.empty()) return std::string(sourceXmp);

    const std::string description =
        "  <rdf:Description rdf:about=\"\"\n"
        "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
        "    xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\"\n"
        "    xmlns:Iptc4xmpCore=\"http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/\">\n" +
        properties + "  </rdf:Description>\n";
    if (!sourceXmp.empty()) {
        // A second description of the same resource beside the source's own.
        const std::size_t end = sourceXmp.rfind("</rdf:RDF>");
        if (end == std::string_view::npos) return std::string(sourceXmp);
        return std::string(sourceXmp.substr(0, end)) + description +
               std::string(sourceXmp.substr(end));
    }
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
           " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n" +
           description +
           " </rdf:RDF>\n"
           "</x:xmpmeta>\n"
           "<?xpacket end=\"w\"?>";
}

std::string afcpIptc(const ReadAt& read, std::uint64_t fileSize) {
    // The trailer ends in "AXS!" (big-endian numbers) or "AXS*" (little-endian), the
    // offset of its start and a checksum. At the start: the same mark, a version, the
    // number of entries and a checksum; then entries of a name, a size and an offset.
    constexpr std::uint32_t maxEntries = 64;
    constexpr std::uint32_t maxIptcBytes = 1 << 20;
    if (fileSize < 24) return {};
    const std::string end = read(fileSize - 12, 12);
    if (end.size() != 12 || end.compare(0, 3, "AXS") != 0 || (end[3] != '!' && end[3] != '*'))
        return {};
    const bool big = end[3] == '!';
    const auto number = [big](std::string_view bytes, std::size_t at, int count) {
        return big ? bigEndian(bytes, at, count) : littleEndian(bytes, at, count);
    };
    const std::uint64_t start = number(end, 4, 4);
    if (start + 12 > fileSize - 12) return {};
    const std::string header = read(start, 12);
    if (header.size() != 12 || header.compare(0, 4, end, 0, 4) != 0) return {};
    const std::uint32_t count = number(header, 6, 2);
    if (count > maxEntries) return {};
    const std::string directory = read(start + 12, 12 * count);
    if (directory.size() != 12 * count) return {};
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = 12 * i;
        if (directory.compare(entry, 4, "IPTC") != 0) continue;
        const std::uint32_t size = number(directory, entry + 4, 4);
        const std::uint64_t offset = number(directory, entry + 8, 4);
        if (size == 0 || size > maxIptcBytes || offset > fileSize || size > fileSize - offset)
            return {};
        std::string iim = read(offset, size);
        if (iim.size() != size || iim.front() != '\x1C') return {};
        return iim;
    }
    return {};
}

std::string photoshopBlock(std::string_view iim) {
    std::string out("Photoshop 3.0\0"
                    "8BIM\x04\x04\0\0",
                    22);
    const auto size = static_cast<std::uint32_t>(iim.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>(size >> shift & 0xFF);
    out += iim;
    if (iim.size() % 2) out += '\0';
    return out;
}

} // namespace lumatra::IptcXmp
