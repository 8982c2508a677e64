#include "converter/families.h"

#include "formats/convert_error.h"

#include <dlfcn.h>

#include <mutex>

namespace lumatra {
namespace {

// The folder of the library (or executable) this code was linked into; the modules lie
// beside it, in the build tree and when installed alike, and are taken from nowhere else.
std::filesystem::path engineFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&moduleEntry), &info) == 0 || !info.dli_fname) return {};
    std::error_code error;
    const auto file = std::filesystem::canonical(info.dli_fname, error);
    return error ? std::filesystem::path(info.dli_fname).parent_path() : file.parent_path();
}

template <typename Family> const Family& loaded(const char* name, const char* symbol) {
    // A failed load is not remembered: the next conversion tries again.
    static std::mutex mutex;
    static const Family* family = nullptr;
    const std::lock_guard lock(mutex);
    if (!family) {
        using Entry = const Family* (*)();
        family = reinterpret_cast<Entry>(moduleEntry(name, symbol))();
    }
    return *family;
}

} // namespace

void* moduleEntry(const std::string& name, const char* symbol) {
    const auto file = engineFolder() / ("liblumatra-" + name + ".so");
    const auto fail = [&](const char* reason) -> void* {
        std::string why = reason ? reason : "неизвестная ошибка";
        // The loader's own text begins with the file's name, already given.
        if (why.starts_with(file.string() + ": ")) why.erase(0, file.string().size() + 2);
        throw ConvertError::failed("Не удалось загрузить часть программы " + file.string() + ": " +
                                   why);
    };
    std::error_code missing;
    if (!std::filesystem::exists(file, missing)) return fail("файла нет, переустановите Lumatra");
    // Loaded once and never unloaded: its code may run on any thread until the end.
    void* module = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!module) return fail(::dlerror());
    void* entry = ::dlsym(module, symbol);
    if (!entry) return fail(::dlerror());
    return entry;
}

const ImageFamily& imageFamily() {
    return loaded<ImageFamily>("image", "lumatra_image_family");
}

const PdfFamily& pdfFamily() {
    return loaded<PdfFamily>("pdf", "lumatra_pdf_family");
}

const MediaFamily& mediaFamily() {
    return loaded<MediaFamily>("media", "lumatra_media_family");
}

} // namespace lumatra
