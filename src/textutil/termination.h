#pragma once
// Ending the text converter on SIGTERM, SIGINT or SIGHUP without leaving anything
// behind: the engine runs in this process, so a dedicated thread waits for those
// signals, removes the scratch folder and any half-placed output, and ends the process.

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>

namespace lumatra::textutil::Termination {

/// Blocks the termination signals in this thread (and every thread started later).
/// Call first, while the process has one thread.
void blockSignals();

/// Starts the thread that waits for the blocked signals. On a signal it takes the
/// lock of `guard`, removes the registered items and ends the process with status
/// 128 + signal.
void startWatcher();

/// Registers an item to remove on termination; `path` empty unregisters the slot.
void setScratch(const std::filesystem::path& path);
/// As setScratch, for a half-placed output; the caller holds guard().
void setPartial(const std::filesystem::path& path);
/// A child process to end (SIGKILL) before anything is removed; -1 for none.
void setChild(int pid);

/// As setScratch, for the warm engine's socket.
void setSocket(const std::filesystem::path& path);

/// Removes `path` and everything below it. The engine's own threads may still write
/// into its profile meanwhile (it saves its settings on a timer), so the removal is
/// retried for up to half a second until the folder is gone.
void removeTree(const std::filesystem::path& path);

/// Removes the registered items (under guard()) and ends the process with `status`.
[[noreturn]] void endNow(int status);

/// Starts a thread that, once `limit` has passed (paused times not counted), ends the run
/// as endNow(1) does, after
/// `report` has said why — unless the output is in place by then (setPlaced), in which
/// case the run goes on to end as it succeeded.
void startDeadline(std::chrono::milliseconds limit, std::function<void()> report);

/// While an object of this type lives, the time limit of startDeadline does not run:
/// the run waits for something other than its document (an engine another run uses).
class DeadlinePause {
public:
    DeadlinePause();
    ~DeadlinePause();
    DeadlinePause(const DeadlinePause&) = delete;
    DeadlinePause& operator=(const DeadlinePause&) = delete;
};

/// Records, under guard(), that the output is in its final place.
void setPlaced();

/// Whether a termination is under way. A child that died of it is not a failure to
/// report: the caller waits for endNow to end the process instead.
bool ending();

/// Held while output is being placed, so a termination waits for a placement that has
/// begun instead of leaving half of it.
std::mutex& guard();

} // namespace lumatra::textutil::Termination
