#pragma once
// The warm engines: LibreOffice engines kept loaded for a burst of conversions, one per
// core.
//
// Starting LibreOffice costs far more than converting a small document (a quarter of a
// second to a second, against tens of milliseconds). A run hands the engine's
// open-and-save step to a background copy of this program ("lumatra-textutil --serve K")
// that keeps an engine loaded, wherever the user has a private runtime folder (the
// session's, or one of our own in the temporary folder); every run still prepares its source and
// places its output itself. The folder "lumatra" in the runtime folder holds, for each slot K (one
// per core, at most four: each engine holds a few hundred MB):
//
// - "textutil-K.sock", where slot K's engine listens;
// - "textutil-K.lock", locked by that engine for its whole life and naming its process;
//   whoever holds it owns the slot's socket and work folder;
// - "engine-K", the engine's work folder (its private profile and temporary files),
//   cleared when the engine ends, and by the next engine of the slot when one died
//   without clearing it; never by an engine of another slot, whose own may be in use;
// - "textutil-K.busy", locked by the run the slot's engine works for.
//
// The design choices:
//
// - a run takes the first slot whose busy lock is free, so that runs one after another
//   keep to one engine and runs side by side get an engine each; when every slot is
//   busy it waits for one up to two seconds (not counted against its time limit), then
//   converts cold. It starts the slot's engine when none answers there, and
//   waits for no other slot's engine; two runs starting the same slot's engine end up
//   with one, the slot's lock deciding;
// - each engine converts one document at a time (LibreOffice is not safe for more) and
//   lives in a network namespace of its own, like a cold run;
// - an engine ends after a minute without work, after 100 conversions (the engine holds
//   on to memory), after a document it could not open (such a document can leave it
//   unable to open the next), on SIGTERM, when the run it works for goes away (a
//   cancelled conversion ends its LibreOffice work too; the next run of the slot starts a
//   new engine), and when asked to (`--quit-engine`, sent to every slot by a window that
//   quits) as soon as no run waits for it;
// - an engine that ends after a conversion takes its socket away before its answer, and
//   a run whose new engine finds the slot still held (by one that is ending) starts
//   another a moment later, so that the slot's next run is still served warm;
// - only the owner can reach the sockets (their folder is 0700, and the peer's user is
//   checked);
// - whenever no engine can be reached, started, or one dies during a conversion, the
//   run converts cold in its own process, which also gives the proper error message.

#include "request.h"

#include <filesystem>
#include <optional>

namespace lumatra::textutil::WarmEngine {

/// The folder of the engines' sockets: "lumatra" in the user's private runtime folder
/// (privateRuntimeFolder: the session's, or one of our own in the temporary folder when
/// there is none, as under cron or ssh), made 0700 when missing; none when there is no
/// runtime folder of ours alone.
std::optional<std::filesystem::path> folder();

/// Has the engine of a free slot (started when none runs there; waiting a moment for a
/// slot when all are busy) open `input` and save it as `result`. Returns false when no warm engine
/// can do it, so the caller converts cold. Throws ToolError when the engine could not
/// convert the document.
bool convert(const std::filesystem::path& input, OutputFormat format,
             const std::filesystem::path& result);

/// Asks every running engine to end once no run waits for it (runs already waiting are
/// served first); starts none. True when some engine took the request.
bool requestQuit();

/// Starts the engines of the first `wanted` slots (at most one per core) that have none,
/// without waiting for them, so that documents about to be converted find them loaded:
/// `lumatra-textutil --warm-engines N`, sent by a window that was given documents. The
/// engines end as any other does, after a minute without work at the latest. False when
/// there is no runtime folder of ours alone.
bool warmUp(int wanted);

/// The life of slot `slot`'s engine: `lumatra-textutil --serve K`. Returns the exit
/// status; 0 at once when the slot already has its engine.
int serve(int slot);

} // namespace lumatra::textutil::WarmEngine
