// What the text converter does to a web page or web archive before LibreOffice sees
// it, on arbitrary bytes: decoding, charset declarations, LibreOffice's empty dates,
// pictures carried as data: addresses, and web archives. Nothing may crash; a picture
// is only ever carried where an <img> element's address was.
#include "page_pictures.h"
#include "source_preparer.h"
#include "tool_error.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace lumatra::textutil;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string page;
    try {
        page = decodeText(bytes, std::nullopt, declaredCharset(bytes));
    } catch (const ToolError&) {
        return 0;
    }
    page = declareUtf8(withoutEmptyDates(page));
    if (declaredCharset(page) && *declaredCharset(page) != "utf-8") std::abort();
    const std::string picture("\x89PNG\r\n\x1A\nfuzz", 12);
    const PictureSource source = [&](std::string_view address) -> std::optional<std::string> {
        if (!address.empty() && address.front() == 'a') return picture;
        return std::nullopt;
    };
    const std::string carried = inlinePictures(page, source);
    const auto count = [](std::string_view text, std::string_view word, bool anyCase) {
        std::size_t n = 0;
        for (std::size_t at = 0; at + word.size() <= text.size(); ++at) {
            std::size_t i = 0;
            while (i < word.size() &&
                   (anyCase ? (text[at + i] | 0x20) == word[i] : text[at + i] == word[i]))
                ++i;
            n += i == word.size();
        }
        return n;
    };
    const std::string_view mark = "data:image/png;base64,iVBORw0KGgpmdXp6";
    if (count(carried, mark, false) - count(page, mark, false) > count(page, "<img", true))
        std::abort();
    try {
        const WebArchive archive = readWebArchive(bytes);
        (void)resolveAddress(archive.address, page.substr(0, 64));
    } catch (const ToolError&) {
    }
    return 0;
}
