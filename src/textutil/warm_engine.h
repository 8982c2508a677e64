#pragma once
// The warm engine: one LibreOffice engine shared by a burst of conversions.
//
// Starting LibreOffice costs far more than converting a small document (a quarter of a
// second to a second, against tens of milliseconds). When the user's session has a
// private runtime folder ($XDG_RUNTIME_DIR), the first run of a burst starts a
// background copy of this program ("lumatra-textutil --serve") that keeps the engine
// loaded and listens on the socket "lumatra/textutil.sock" in that folder. Every run
// still prepares its source and places its output itself; only the engine's
// open-and-save step goes over the socket. The design choices:
//
// - one conversion at a time, in the order the runs connect; the engine is not safe
//   for more, and documents are small;
// - the engine lives in a network namespace of its own, like a cold run, with its own
//   private profile in a folder beside the socket;
// - it ends after a minute without work, after 100 conversions (the engine holds on
//   to memory), on SIGTERM, and when a run that is waiting for it goes away (a
//   cancelled conversion ends its LibreOffice work too; the next run starts a new
//   engine), and when asked to (`--quit-engine`, sent by a window that quits) as soon
//   as no run waits;
// - its process number is in "textutil.lock" beside the socket, locked while it lives;
// - only the owner can reach the socket (its folder is 0700, and the peer's user is
//   checked);
// - whenever the engine cannot be reached, started or dies during a conversion, the
//   run converts cold in its own process, which also gives the proper error message.

#include "request.h"

#include <filesystem>
#include <optional>

namespace lumatra::textutil::WarmEngine {

/// The folder of the engine's socket: $XDG_RUNTIME_DIR/lumatra, made 0700 when
/// missing; none when there is no runtime folder of ours alone.
std::optional<std::filesystem::path> folder();

/// Has the warm engine (started when none runs) open `input` and save it as `result`.
/// Returns false when no warm engine can do it, so the caller converts cold. Throws
/// ToolError when the engine could not convert the document.
bool convert(const std::filesystem::path& input, OutputFormat format,
             const std::filesystem::path& result);

/// Asks a running engine to end once no run waits for it (runs already waiting are
/// served first); starts none. True when an engine took the request.
bool requestQuit();

/// The engine's own life: `lumatra-textutil --serve`. Returns the exit status.
int serve();

} // namespace lumatra::textutil::WarmEngine
