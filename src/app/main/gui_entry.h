#pragma once
// The two modes that need Qt's GUI, the window and the off-screen snapshot. They live in
// the window module, which the executable loads only for them: a command-line run starts
// without Qt.

#include <string>
#include <vector>

namespace lumatra::Main {

/// Runs the windowed application with `files` added; returns its exit status.
int runWindow(int argc, char** argv, const std::vector<std::string>& files);

/// Renders the window with `files` into the PNG `out` and prints "Снимок: <out>".
void snapshot(int argc, char** argv, const std::string& out, const std::vector<std::string>& files);

} // namespace lumatra::Main

/// The window module's entries: runWindow and snapshot.
extern "C" {
int lumatra_window_run(int argc, char** argv, const std::vector<std::string>& files);
void lumatra_window_snapshot(int argc, char** argv, const std::string& out,
                             const std::vector<std::string>& files);
}
