#pragma once
// Running the built executable in the command-line tests.

#include "support/fixtures.h"

#include <string>
#include <vector>

namespace lumatra::test {

inline ProcessOutput lumatra(std::vector<std::string> args, const std::filesystem::path& dir) {
    args.insert(args.begin(), LUMATRA_BINARY);
    return runProgram(args, dir);
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        out.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

inline bool namespacesAllowed() {
    return runProgram({"unshare", "--mount", "--map-root-user", "true"}).status == 0;
}

/// Runs the executable in a private mount namespace where `setup` (shell commands) has
/// changed what the file system shows; check `namespacesAllowed()` first.
inline ProcessOutput lumatraIsolated(const std::string& setup, std::vector<std::string> args,
                                     const std::filesystem::path& dir) {
    std::vector<std::string> argv = {"unshare",     "--mount", "--map-root-user",
                                     "sh",          "-c",      setup + " && exec \"$0\" \"$@\"",
                                     LUMATRA_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, dir);
}

} // namespace lumatra::test
