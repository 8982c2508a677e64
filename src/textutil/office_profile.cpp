#include "office_profile.h"

#include "isolation.h"
#include "termination.h"
#include "tool_error.h"

#include <stdlib.h>
#include <unistd.h>

namespace lumatra::textutil {
namespace {

constexpr const char* templateName = "office-profile";

} // namespace

StartedOffice startOffice(const std::filesystem::path& profile) {
    const auto cache = privateCacheFolder();
    std::error_code error;
    bool fromTemplate = false;
    if (cache && std::filesystem::is_directory(*cache / templateName, error)) {
        fromTemplate = copyTree(*cache / templateName, profile);
        if (!fromTemplate) std::filesystem::remove_all(profile, error);
    }
    try {
        return {std::make_unique<Office>(profile), fromTemplate};
    } catch (const ToolError&) {
        if (!fromTemplate) throw;
    }
    // A template from another LibreOffice version: start afresh and forget it.
    std::filesystem::remove_all(*cache / templateName, error);
    std::filesystem::remove_all(profile, error);
    return {std::make_unique<Office>(profile), false};
}

void keepProfileTemplate(Office& office, const std::filesystem::path& profile) {
    const auto cache = privateCacheFolder();
    std::error_code error;
    if (!cache || std::filesystem::exists(*cache / templateName, error)) return;
    office.shutdown();
    std::string name = (*cache / (std::string(templateName) + ".XXXXXX")).string();
    // A termination meanwhile removes the half-made copy.
    const std::lock_guard lock(Termination::guard());
    if (!::mkdtemp(name.data())) return;
    Termination::setPartial(name);
    std::filesystem::remove(name, error);
    if (!copyTree(profile, name) || ::rename(name.c_str(), (*cache / templateName).c_str()) != 0)
        std::filesystem::remove_all(name, error);
    Termination::setPartial({});
}

} // namespace lumatra::textutil
