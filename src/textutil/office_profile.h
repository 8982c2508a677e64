#pragma once
// Starting the engine quickly: its first start in a fresh profile takes about a second,
// a start in a copy of a finished profile about a quarter of that. A finished profile
// is kept as a template in the user's private cache folder and copied into each run's
// private profile.

#include "office.h"

#include <filesystem>
#include <memory>

namespace lumatra::textutil {

struct StartedOffice {
    std::unique_ptr<Office> office;
    bool fromTemplate = false;
};

/// Starts the engine with its profile in the new folder `profile`, copied from the
/// template when there is one (a template that does not start is dropped and the
/// engine started afresh). Throws ToolError as Office does.
StartedOffice startOffice(const std::filesystem::path& profile);

/// Ends `office` in order and keeps its finished profile as the template, unless a
/// template exists already. Failures only mean no template.
void keepProfileTemplate(Office& office, const std::filesystem::path& profile);

} // namespace lumatra::textutil
