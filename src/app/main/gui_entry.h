#pragma once
// The two modes that need Qt's GUI: the window and the off-screen snapshot.

#include <string>
#include <vector>

namespace lumatra::Main {

/// Runs the windowed application with `files` added; returns its exit status.
int runWindow(int argc, char** argv, const std::vector<std::string>& files);

/// Renders the window with `files` into the PNG `out` and prints "Снимок: <out>".
void snapshot(int argc, char** argv, const std::string& out, const std::vector<std::string>& files);

} // namespace lumatra::Main
