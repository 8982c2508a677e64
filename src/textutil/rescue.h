#pragma once
// The second try for a document the engine refused to open. LibreOffice's own program,
// run headless, opens some documents the embedded engine cannot (those holding comments:
// the engine has no windows for them), and writes them as flat ODF; without its
// comments that file opens anywhere.

#include <filesystem>
#include <optional>

namespace lumatra::textutil {

/// Runs LibreOffice's program on `input` with a private profile in `scratch` and returns
/// the flat ODF text document it made of it, comments removed ("rescued.fodt" in
/// `scratch`); none when the program is missing, fails, or takes longer than two minutes.
/// A web page ("*.html") is opened as a text document.
std::optional<std::filesystem::path> rescueAsFlat(const std::filesystem::path& input,
                                                  const std::filesystem::path& scratch);

} // namespace lumatra::textutil
