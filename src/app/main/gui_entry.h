#pragma once
// The two modes that need Qt's GUI, the window and the off-screen snapshot. They live in
// the window module, which the executable loads only for them: a command-line run starts
// without Qt.

#include "formats/format.h"

#include <string>
#include <vector>

namespace lumatra::Main {

/// Runs the windowed application with `files` added; returns its exit status.
int runWindow(int argc, char** argv, const std::vector<std::string>& files);

/// Renders the window with `files` into the PNG `out` and prints "Снимок: <out>"; returns 0,
/// or says on standard error why no picture was written and returns 1.
int snapshot(int argc, char** argv, const std::string& out, const std::vector<std::string>& files);

/// Converts `files` to `target` as the file manager's menu asks: handed to the window when
/// one runs, else to a conversion of the menu already running, else converted here
/// without a window, on the pool and its core budget, at the window's saved quality and
/// into its saved output folder, with a desktop notification of the progress and the
/// end (lines on standard error as well). Returns 0 when every file was converted or
/// handed over, 1 otherwise.
int convertFromMenu(int argc, char** argv, Format target, const std::vector<std::string>& files);

} // namespace lumatra::Main

/// The window module's entries: runWindow, snapshot and convertFromMenu.
extern "C" {
int lumatra_window_run(int argc, char** argv, const std::vector<std::string>& files);
int lumatra_window_snapshot(int argc, char** argv, const std::string& out,
                            const std::vector<std::string>& files);
int lumatra_window_convert(int argc, char** argv, lumatra::Format target,
                           const std::vector<std::string>& files);
}
