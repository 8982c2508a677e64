// The text edits between the office engine's steps and around it, on arbitrary bytes:
// flat ODF page geometry, bullets and comments, rich text's picture fallbacks, and the
// pictures of a rendered Markdown page (read from an empty folder). Nothing may crash or
// grow without bound, and an edit never adds a comment or a fallback group.
#include "document/markdown_pictures.h"
#include "flat_document.h"
#include "output_writer.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace lumatra;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::string pages = textutil::withA4Pages(bytes);
    if (pages.size() > bytes.size() * 200 + 16) std::abort();
    const std::string bullets = textutil::withUnicodeBullets(bytes);
    if (bullets.size() > bytes.size() + 16) std::abort();
    const std::string plain = textutil::withoutAnnotations(bytes);
    if (plain.size() > bytes.size()) std::abort();
    if (plain.find("<office:annotation") != std::string::npos &&
        bytes.find("<office:annotation") == std::string_view::npos)
        std::abort();

    const std::string rtf = textutil::withoutPictureFallbacks(bytes);
    if (rtf.size() > bytes.size()) std::abort();

    static const std::filesystem::path empty = [] {
        char name[] = "/tmp/document-edits-fuzz-XXXXXX";
        return std::filesystem::path(::mkdtemp(name) ? name : "/nonexistent");
    }();
    const std::string page = MarkdownPictures::embed(bytes, empty);
    if (page.find("data:image/") != std::string::npos &&
        bytes.find("data:image/") == std::string_view::npos)
        std::abort();
    return 0;
}
