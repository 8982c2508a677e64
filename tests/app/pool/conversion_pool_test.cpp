// The worker pool on its own, without Qt and without any event loop: a stand-in
// conversion that only waits, so that the order of starts, the room taken and the
// next start after an end can be watched exactly.

#include "pool/conversion_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

namespace lumatra {
namespace {

using namespace std::chrono_literals;
using Request = ConversionPool::Request;
using Outcome = ConversionPool::Outcome;

// What the pool reported, in order; "+3" a start, "-3" an end.
struct Log {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> events;
    std::vector<std::pair<std::uint64_t, Outcome::Kind>> outcomes;
    // Outcomes after which nothing ran or waited.
    std::vector<std::uint64_t> idleAfter;

    ConversionPool::Events events_() {
        ConversionPool::Events events;
        events.started = [this](std::uint64_t ticket) {
            std::lock_guard guard(lock);
            this->events.push_back("+" + std::to_string(ticket));
            changed.notify_all();
        };
        events.finished = [this](std::uint64_t ticket, const Outcome& outcome) {
            std::lock_guard guard(lock);
            this->events.push_back("-" + std::to_string(ticket));
            outcomes.emplace_back(ticket, outcome.kind);
            if (outcome.poolIdle) idleAfter.push_back(ticket);
            changed.notify_all();
        };
        return events;
    }

    bool waitForEnds(std::size_t count) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, 10s, [&] { return outcomes.size() >= count; });
    }
    bool waitForStart(std::uint64_t ticket) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, 10s, [&] {
            return std::ranges::count(events, "+" + std::to_string(ticket)) > 0;
        });
    }
};

// Waits `milliseconds` encoded in the source's name, or until stopped.
ConvertResult wait(const Request& request, const Options&, const std::function<void(double)>&,
                   std::stop_token stop) {
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(std::stoi(request.source.filename().string()));
    while (std::chrono::steady_clock::now() < until) {
        if (stop.stop_requested()) throw CancelledError();
        std::this_thread::sleep_for(1ms);
    }
    if (request.source.extension() == ".bad") throw ConvertError::failed("сломан");
    return ConvertResult{request.source, 1, 0};
}

Request request(std::uint64_t ticket, const std::string& name, int weight = 1) {
    return Request{ticket, name, Format::mp3, weight};
}

TEST(ConversionPool, WorkersTakeThePlanInOrderWithinTheBudgetWithoutTheCaller) {
    // Nobody runs an event loop here: each next start comes from the worker whose
    // conversion just ended.
    Log log;
    ConversionPool pool(log.events_(), 2, wait);
    pool.plan({request(1, "150"), request(2, "20"), request(3, "20"), request(4, "40", 2),
               request(5, "20"), request(6, "20.bad")});
    ASSERT_TRUE(log.waitForEnds(6));
    // 1 and 2 start at once; 3 takes 2's place; the heavy 4 waits for the whole budget
    // and holds it; 5 and 6 follow it side by side.
    const std::vector<std::string> expected{"+1", "+2", "-2", "+3", "-3",
                                            "-1", "+4", "-4", "+5", "+6"};
    EXPECT_EQ(std::vector<std::string>(log.events.begin(), log.events.begin() + 10), expected);
    // 5 and 6 end in either order.
    const std::pair<std::uint64_t, Outcome::Kind> sixFailed{6, Outcome::Kind::failed};
    EXPECT_NE(std::find(log.outcomes.begin(), log.outcomes.end(), sixFailed), log.outcomes.end());
    EXPECT_TRUE(pool.idle());
    // Only the very last end leaves the pool with nothing to do (1 ended with 4 waiting).
    EXPECT_EQ(log.idleAfter, std::vector<std::uint64_t>{log.outcomes.back().first});
}

// Threads of this process named as the pool names its workers.
int convertThreads() {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == "convert") ++count;
    }
    return count;
}

// Its workers wait once prepared; ending it stops what runs and starts nothing more.
TEST(ConversionPool, APreparedPoolHasItsWorkersWaitingAndEndingItStopsThem) {
    Log log;
    const int before = convertThreads();
    std::chrono::steady_clock::time_point ending;
    {
        ConversionPool pool(log.events_(), 2, wait);
        pool.prepare();
        // The workers name themselves as they start.
        for (int tries = 0; tries < 200 && convertThreads() < before + 2; ++tries)
            std::this_thread::sleep_for(5ms);
        EXPECT_EQ(convertThreads(), before + 2);
        pool.plan({request(1, "30"), request(2, "30"), request(3, "10")});
        ASSERT_TRUE(log.waitForEnds(3));
        EXPECT_EQ(convertThreads(), before + 2);
        pool.plan({request(4, "10000"), request(5, "10000"), request(6, "10")});
        ASSERT_TRUE(log.waitForStart(4) && log.waitForStart(5));
        ending = std::chrono::steady_clock::now();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - ending, 5s);
    ASSERT_EQ(log.outcomes.size(), 5u);
    EXPECT_EQ(log.outcomes[3].second, Outcome::Kind::cancelled);
    EXPECT_EQ(log.outcomes[4].second, Outcome::Kind::cancelled);
    EXPECT_EQ(convertThreads(), before);
}

TEST(ConversionPool, AWithdrawnRequestNeverStartsAndATakenOneNeverStartsTwice) {
    Log log;
    ConversionPool pool(log.events_(), 1, wait);
    pool.plan({request(1, "100"), request(2, "10"), request(3, "10")});
    ASSERT_TRUE(log.waitForStart(1));
    EXPECT_FALSE(pool.withdraw(1)); // taken already
    EXPECT_TRUE(pool.withdraw(2));
    // A later plan that still names the taken request does not start it again.
    pool.plan({request(1, "100"), request(3, "10")});
    ASSERT_TRUE(log.waitForEnds(2));
    EXPECT_EQ(log.events, (std::vector<std::string>{"+1", "-1", "+3", "-3"}));

    // Cancelling a running conversion ends it cancelled, and the next one starts.
    pool.plan({request(7, "5000"), request(8, "10")});
    ASSERT_TRUE(log.waitForStart(7));
    pool.cancel(7);
    ASSERT_TRUE(log.waitForEnds(4));
    EXPECT_EQ(log.outcomes[2],
              (std::pair<std::uint64_t, Outcome::Kind>{7, Outcome::Kind::cancelled}));
    EXPECT_EQ(log.outcomes[3].first, 8u);
}

} // namespace
} // namespace lumatra
