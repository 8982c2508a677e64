#pragma once
// The cold path: LibreOffice's engine started for one document in a child process of
// the tool. Should the engine crash on a document (it reads files from strangers), the
// tool itself lives on, removes its scratch folder and reports the crash in plain
// words; a termination of the tool ends the child at once.

#include "request.h"

#include <filesystem>

namespace lumatra::textutil {

/// Opens `input` and saves it as `result` with an engine whose profile and temporary
/// files live in `scratch`. Throws ToolError with the engine's reason, or saying that
/// LibreOffice crashed.
void convertInChild(const std::filesystem::path& input, OutputFormat format,
                    const std::filesystem::path& result, const std::filesystem::path& scratch);

} // namespace lumatra::textutil
