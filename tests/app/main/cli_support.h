#pragma once
// Running the built executable in the command-line tests.

#include "support/fixtures.h"

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace lumatra::test {

inline ProcessOutput lumatra(std::vector<std::string> args, const std::filesystem::path& dir) {
    args.insert(args.begin(), LUMATRA_BINARY);
    return runProgram(args, dir);
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

/// How many processes run whose command line holds `mark`.
inline int countRunning(const std::string& mark) {
    const std::string out = runProgram({"pgrep", "-f", "--", mark}).out;
    return static_cast<int>(std::count(out.begin(), out.end(), '\n'));
}

/// Once `count` processes hold `mark` (or ten seconds have passed) and `after` more,
/// sends `signal` to this test's own run, the one started as `lumatra --cli first…`
/// (other tests may run the program at the same time). Returns when it was sent.
inline std::chrono::steady_clock::time_point
signalOnceRunning(const std::string& mark, int signal, const std::string& first, int count = 1,
                  std::chrono::milliseconds after = {}) {
    for (int i = 0; i < 200 && countRunning(mark) < count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(after);
    const auto sent = std::chrono::steady_clock::now();
    runProgram(
        {"pkill", "-" + std::to_string(signal), "-f", "--", "^" LUMATRA_BINARY " --cli " + first});
    return sent;
}

} // namespace lumatra::test
