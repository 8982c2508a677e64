#include "pdf/libraries.h"

#include <poppler-global.h>
#include <vips/vips8>

#include <mutex>
#include <string>

namespace lumatra {
namespace {

void quietDebugOutput(const std::string&, void*) {}

} // namespace

void initialisePdfLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Poppler reports every oddity of a file on standard error; the engine never
        // prints.
        poppler::set_debug_error_function(quietDebugOutput, nullptr);
        if (VIPS_INIT("lumatra") != 0) vips_error_clear();
    });
}

} // namespace lumatra
