// A build tool: writes the desktop entry with the MIME types of every extension the
// catalog accepts, so that file managers offer "Open with Lumatra" for exactly those,
// and the file managers' «Конвертировать в» entries.
//
//   lumatra-mime-types TEMPLATE OUTPUT    (replaces @MIME_TYPES@ in TEMPLATE)
//   lumatra-mime-types --menus FOLDER     (writes FOLDER/kio/servicemenus for Dolphin,
//                                          FOLDER/Thunar/sendto, FOLDER/nemo/actions)
//
// A menu that cannot ask the program shows one entry per target format, for the MIME
// types whose every file can take it: file managers show an entry only when every
// selected file has one of its types, so a selection sees the formats all its files
// share.

#include "formats/format.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

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

// Every MIME type of an extension that becomes a job, with the formats that all of its
// extensions can take, in the catalog's order.
std::map<std::string, std::vector<lumatra::Format>> targetsByType() {
    std::map<std::string, std::vector<lumatra::Format>> types;
    for (lumatra::Kind kind : lumatra::allKinds)
        for (std::string_view extension : lumatra::kindExtensions(kind)) {
            const auto targets = lumatra::targetsFor("file." + std::string(extension));
            if (targets.empty()) continue;
            const std::string type = mimeTypeOf(extension);
            if (type.empty()) continue;
            const auto [at, fresh] = types.try_emplace(type, targets);
            if (fresh) continue;
            std::erase_if(at->second, [&](lumatra::Format format) {
                return std::find(targets.begin(), targets.end(), format) == targets.end();
            });
        }
    return types;
}

bool writeFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return out.good();
}

// "lumatra-convert-00-mp3": the catalog's order survives sorting by name.
std::string entryName(std::size_t index, std::string_view id) {
    char number[8];
    std::snprintf(number, sizeof number, "%02zu", index);
    return "lumatra-convert-" + std::string(number) + "-" + std::string(id);
}

struct MenuEntry {
    std::string name;     // file name without its extension
    std::string label;    // "MP3", or «Другой формат…»
    std::string exec;     // the command before the files
    std::string types;    // "a/b;c/d;"
    std::string excluded; // "a/b,c/d": types below one of `types` that cannot take it
};

// The formats in the order the entries take: one order for every selection, in which
// each kind's targets follow the catalog's order for it (a video's formats, then a
// picture's with GIF among them, then the sounds a video also gives, then documents
// and data). Only a GIF's and a PDF's extra formats come out of their place.
std::vector<lumatra::Format> menuOrder() {
    using lumatra::Format;
    std::vector<Format> order;
    const auto add = [&](Format format) {
        if (std::find(order.begin(), order.end(), format) == order.end()) order.push_back(format);
    };
    for (Format format : lumatra::videoTargets)
        if (format != Format::gif) add(format);
    for (const char* file : {"x.png", "x.wav", "x.md", "x.pdf"})
        for (Format format : lumatra::targetsFor(file))
            add(format);
    for (Format format : lumatra::allFormats)
        add(format);
    return order;
}

int writeMenus(const std::filesystem::path& folder) {
    const auto types = targetsByType();
    const auto order = menuOrder();
    std::vector<MenuEntry> entries;
    for (std::size_t index = 0; index < order.size(); ++index) {
        const lumatra::Format format = order[index];
        std::vector<std::string> taking;
        std::string list;
        for (const auto& [type, targets] : types)
            if (std::find(targets.begin(), targets.end(), format) != targets.end()) {
                taking.push_back(type);
                list += type + ';';
            }
        if (list.empty()) continue;
        // File managers match a type's subtypes too (JSON is plain text, which takes PDF).
        std::string excluded;
        for (const auto& [type, targets] : types) {
            if (std::find(taking.begin(), taking.end(), type) != taking.end()) continue;
            const bool below = std::any_of(taking.begin(), taking.end(), [&](const auto& super) {
                return g_content_type_is_a(type.c_str(), super.c_str());
            });
            if (below) excluded += (excluded.empty() ? "" : ",") + type;
        }
        const std::string id(lumatra::rawValue(format));
        entries.push_back({entryName(index, id), std::string(lumatra::title(format)),
                           "lumatra --convert-to " + id + " --", list, excluded});
    }
    std::string all;
    for (const auto& [type, targets] : types)
        all += type + ';';
    entries.push_back({"lumatra-convert-99-other", "Другой формат…", "lumatra --", all});

    bool written = true;
    for (const MenuEntry& entry : entries) {
        const bool other = entry.name.ends_with("other");
        // Dolphin: the entries gather in one submenu by its name.
        written &=
            writeFile(folder / "kio/servicemenus" / (entry.name + ".desktop"),
                      "[Desktop Entry]\nType=Service\n"
                      "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
                      "MimeType=" +
                          entry.types +
                          (entry.excluded.empty() ? std::string()
                                                  : "\nExcludeServiceTypes=" + entry.excluded) +
                          "\nActions=convert\n"
                          "X-KDE-Submenu=Конвертировать в\nX-KDE-Priority=TopLevel\n"
                          "\n[Desktop Action convert]\nName=" +
                          entry.label + "\nIcon=lumatra\nExec=" + entry.exec + " %F\n");
        // Thunar's «Отправить» and Nemo's actions list entries of their own. They know no
        // exclusions: a data file is offered the document formats of plain text too, and
        // the conversion reports it skipped.
        const std::string title =
            other ? "Lumatra: другой формат…" : "Конвертировать в " + entry.label;
        written &= writeFile(folder / "Thunar/sendto" / (entry.name + ".desktop"),
                             "[Desktop Entry]\nType=Application\nVersion=1.0\nName=" + title +
                                 "\nIcon=lumatra\nExec=" + entry.exec +
                                 " %F\nMimeType=" + entry.types + "\n");
        written &= writeFile(folder / "nemo/actions" / (entry.name + ".nemo_action"),
                             "[Nemo Action]\nActive=true\nName=" + title + "\nComment=" + title +
                                 "\nIcon-Name=lumatra\nExec=" + entry.exec +
                                 " %F\nSelection=notnone\nMimetypes=" + entry.types +
                                 "\nDependencies=lumatra;\n");
    }
    if (!written) std::cerr << "lumatra-mime-types: cannot write into " << folder << '\n';
    return written ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--menus") return writeMenus(argv[2]);
    if (argc != 3) {
        std::cerr << "usage: lumatra-mime-types TEMPLATE OUTPUT\n";
        return 2;
    }
    // Only files that become jobs: those with a kind and a target.
    std::string list;
    for (const auto& [type, targets] : targetsByType())
        list += type + ';';

    std::ifstream in(argv[1], std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string marker = "@MIME_TYPES@";
    const auto at = text.find(marker);
    if (!in || at == std::string::npos || list.empty()) {
        std::cerr << "lumatra-mime-types: cannot fill " << argv[1] << '\n';
        return 1;
    }
    text.replace(at, marker.size(), list);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << text;
    return out.good() ? 0 : 1;
}
