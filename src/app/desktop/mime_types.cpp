// A build tool: writes the desktop entry with the MIME types of every extension the
// catalog accepts, so that file managers offer "Open with Lumatra" for exactly those.
//
//   lumatra-mime-types TEMPLATE OUTPUT    (replaces @MIME_TYPES@ in TEMPLATE)

#include "formats/format.h"

#include <gio/gio.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <set>
#include <string>

namespace {

// The MIME type the shared database gives a file name with this extension; empty when
// it says nothing but "some bytes". (Without the file's bytes, a type that also has a
// content rule is reported as uncertain; its name is still the one to announce.)
std::string mimeTypeOf(std::string_view extension) {
    // Property lists have no entry of their own in the shared database.
    if (extension == "plist") return "application/x-plist";
    const std::string name = "file." + std::string(extension);
    gboolean uncertain = FALSE;
    const std::unique_ptr<gchar, decltype(&g_free)> type(
        g_content_type_guess(name.c_str(), nullptr, 0, &uncertain), g_free);
    if (!type) return {};
    const std::unique_ptr<gchar, decltype(&g_free)> mime(g_content_type_get_mime_type(type.get()),
                                                         g_free);
    if (!mime) return {};
    const std::string result(mime.get());
    if (result == "application/octet-stream") return {};
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: lumatra-mime-types TEMPLATE OUTPUT\n";
        return 2;
    }
    std::set<std::string> types;
    for (lumatra::Kind kind : lumatra::allKinds)
        for (std::string_view extension : lumatra::kindExtensions(kind)) {
            // Only files that become jobs: those with a kind and a target.
            if (lumatra::targetsFor("file." + std::string(extension)).empty()) continue;
            if (std::string type = mimeTypeOf(extension); !type.empty()) types.insert(type);
        }
    std::string list;
    for (const std::string& type : types)
        list += type + ';';

    std::ifstream in(argv[1], std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string marker = "@MIME_TYPES@";
    const auto at = text.find(marker);
    if (!in || at == std::string::npos || types.empty()) {
        std::cerr << "lumatra-mime-types: cannot fill " << argv[1] << '\n';
        return 1;
    }
    text.replace(at, marker.size(), list);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << text;
    return out.good() ? 0 : 1;
}
