#pragma once
// The conversion pool, the scheduler both front ends share: the window's queue
// (store/queue_runner.h) and the command line's batch (main/batch.cpp) run on it.
// Worker threads that take conversion requests from a plan in its order, as many at
// once as a budget of cores allows, and start the next one the moment one ends. No Qt.

#include "formats/convert_error.h"
#include "formats/format.h"

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace lumatra {

/// Whether converting a `source` of that kind (if it has one) to `target` runs a video encoder,
/// which spreads over every core by itself: such a conversion takes the whole budget. A GIF is not
/// counted: from a still image it is one libvips save.
bool takesEveryCore(std::optional<Kind> source, Format target);

/// Thread-safe. The owner hands over a plan (the requests still waiting, in the order
/// they are to start) and hears of every start, every progress report and every outcome
/// through the events, called on the worker threads.
///
/// Room: the first request of the plan starts as soon as its weight fits into the budget
/// beside the conversions running (or when nothing runs); the requests after it wait for
/// it, so requests start in plan order. A request is taken once: its ticket never starts
/// again, whatever later plans say.
class ConversionPool {
public:
    struct Request {
        /// The caller's name for this conversion; unique, never 0.
        std::uint64_t ticket = 0;
        std::filesystem::path source;
        Format target = Format::mp3;
        /// Cores it takes of the budget, at least 1.
        int weight = 1;
        /// Scheduling niceness of the conversion and the programs it starts (0 or
        /// more): a conversion that fills every core by itself yields to the window.
        int niceness = 0;
    };

    struct Outcome {
        enum class Kind { done, failed, cancelled };
        Kind kind = Kind::failed;
        ConvertResult result;
        /// The user's message of a failure.
        std::string message;
        /// Nothing else runs or waits in the pool: the batch may be over.
        bool poolIdle = false;
    };

    /// What runs a request; the default is the engine's converter with the tools located
    /// afresh. Throws CancelledError when stopped, anything else on failure.
    using Convert = std::function<ConvertResult(const Request&, const Options&,
                                                const std::function<void(double)>& progress,
                                                std::stop_token stop)>;

    struct Events {
        /// A worker took `ticket`. Called under the pool's lock, in the order of the
        /// starts, before the conversion begins.
        std::function<void(std::uint64_t ticket)> started;
        /// A progress fraction of a running conversion. Called without the lock.
        std::function<void(std::uint64_t ticket, double fraction)> progress;
        /// A conversion ended. Called under the pool's lock, after its room was given
        /// back and before the worker takes its next request.
        std::function<void(std::uint64_t ticket, const Outcome& outcome)> finished;
    };

    /// `convert` may be empty.
    ConversionPool(Events events, int budget, Convert convert = {});
    /// Stops every running conversion and waits for the workers.
    ~ConversionPool();
    ConversionPool(const ConversionPool&) = delete;
    ConversionPool& operator=(const ConversionPool&) = delete;

    /// Cores the pool may fill (values below 1 count as 1).
    void setBudget(int cores);
    /// Starts a worker per core of the budget now, to wait for requests, so that the
    /// first plan does not start threads.
    void prepare();
    int budget() const;
    /// What requests started from now on get.
    void setOptions(Options options);

    /// Replaces the waiting requests. Tickets already taken are left out.
    void plan(std::vector<Request> waiting);
    /// Takes `ticket` out of the waiting requests; false when a worker has taken it
    /// already (it runs, or has run).
    bool withdraw(std::uint64_t ticket);
    /// Asks the running conversion of `ticket` to stop.
    void cancel(std::uint64_t ticket);

    /// How many conversions run now.
    int runningCount() const;
    /// No conversion runs (their programs reaped, their unfinished output removed).
    bool idle() const;

private:
    void work(std::stop_token stop);
    bool canStart() const;
    void growTo(int threads);

    Events m_events;
    Convert m_convert;

    mutable std::mutex m_lock;
    std::condition_variable_any m_wake;
    int m_budget;
    int m_used = 0;
    Options m_options;
    std::vector<Request> m_waiting;
    std::unordered_set<std::uint64_t> m_taken;
    std::unordered_map<std::uint64_t, std::stop_source> m_running;
    // A worker whose niceness a request raised ends after it (niceness cannot be
    // lowered again) and another takes its place; ended ones stay here until the end.
    std::vector<std::jthread> m_workers;
    int m_retired = 0;
    bool m_stopping = false;
};

} // namespace lumatra
