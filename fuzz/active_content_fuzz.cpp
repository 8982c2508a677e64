// What the text converter takes out of a web page before LibreOffice sees it, on
// arbitrary bytes: nothing may crash, and a second pass finds nothing more to take out
// (no removal joins the text around it into a new tag).
#include "active_content.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using lumatra::textutil::withoutActiveContent;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string once = withoutActiveContent(bytes);
    if (withoutActiveContent(once) != once) std::abort();
    return 0;
}
