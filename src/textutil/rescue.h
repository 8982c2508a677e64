#pragma once
// The second try for a document the engine refused to open. LibreOffice's own program,
// run headless, opens some documents the embedded engine cannot (with the nogui Writer,
// those holding comments: its engine has no windows for them; the desktop Writer's has),
// and writes them as flat ODF; without its comments that file opens anywhere.

#include <filesystem>
#include <optional>

namespace lumatra::textutil {

/// Whether `input` is a Word document holding comments (its archive names
/// word/comments.xml) and the installed engine cannot open those: such a document goes
/// to the second try at once, rather than fail in a warm engine and end it.
bool engineRefusesComments(const std::filesystem::path& input);

/// Runs LibreOffice's program on `input` with a private profile in `scratch` and returns
/// the flat ODF text document it made of it, comments removed ("rescued.fodt" in
/// `scratch`); none when the program is missing, fails, or takes longer than two minutes.
/// A web page ("*.html") is opened as a text document.
std::optional<std::filesystem::path> rescueAsFlat(const std::filesystem::path& input,
                                                  const std::filesystem::path& scratch);

} // namespace lumatra::textutil
