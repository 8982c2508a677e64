#include "data/data_converter.h"

#include "data/csv.h"
#include "data/json.h"
#include "data/plist_bridge.h"
#include "data/utf8.h"
#include "formats/convert_error.h"

namespace lumatra::DataConverter {

Node read(std::string_view bytes, std::string_view ext) {
    if (ext == "json") return JSON::parse(bytes);
    if (ext == "plist") return Plist::read(bytes);

    // A table: UTF-8, or else the Cyrillic code page Windows-1251.
    std::string decoded;
    std::string_view text = bytes;
    if (!utf8::isValid(bytes)) {
        if (!utf8::fromWindows1251(bytes, decoded))
            throw ConvertError::failed("Не удалось прочитать текст таблицы");
        text = decoded;
    }
    const char delimiter = ext == "tsv" ? '\t' : CSV::detectDelimiter(text);
    return CSV::table(text, delimiter);
}

std::string write(const Node& tree, Format format) {
    std::string out;
    if (format == Format::json) {
        JSON::appendTo(out, tree);
        out.push_back('\n');
        return out;
    }
    if (format == Format::csv) {
        // The byte-order mark and ";" are what spreadsheet programs expect.
        out = "\xEF\xBB\xBF";
        CSV::appendTo(out, tree, ';');
        return out;
    }
    if (format == Format::plist) return Plist::writeXml(tree);
    throw ConvertError::unsupported("данные → " + std::string(title(format)));
}

} // namespace lumatra::DataConverter
