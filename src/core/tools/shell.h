#pragma once
// Runs one external program to its end with line-by-line output.

#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace lumatra::Shell {

/// Called with each standard-output line, from the runner's reading thread.
using LineHandler = std::function<void(std::string_view line)>;

/// Runs `executable` with `arguments` (no shell; standard input is /dev/null; default
/// signal handling; a process group of its own; killed should this process die) and
/// waits for it. Every line it writes to standard output (CR and LF both end a line, empty
/// lines are dropped, invalid UTF-8 becomes U+FFFD) goes to `onLine` as it arrives and is
/// kept; the last 50 lines of its error output are kept to explain a failure.
///
/// Returns the standard-output lines joined with "\n". Throws SystemError when the
/// program cannot be started; CancelledError when `stop` was requested (the program is
/// sent SIGTERM and reaped first); ConvertError::failed("<name> завершился с кодом
/// <status>\n<last four error lines>") on a non-zero exit status, and "<name> аварийно
/// завершился (сигнал <number>)\n<lines>" when a signal ended it. The error lines shown
/// are cleaned of terminal escapes and memory addresses.
std::string run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                const LineHandler& onLine = {}, std::stop_token stop = {});

} // namespace lumatra::Shell
