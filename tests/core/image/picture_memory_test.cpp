// Conversions running at once share one budget of picture memory: a conversion waits while
// others hold it, and a cancel ends the wait.
#include "formats/convert_error.h"
#include "image/picture_memory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <optional>

namespace lumatra {
namespace {

TEST(PictureMemory, ConversionsWaitForTheBudgetAndCancelTheirWait) {
    std::optional<PictureMemory::Lease> whole =
        PictureMemory::reserve(PictureMemory::budget() * 2, {}); // clamped to the budget
    std::stop_source stop;
    auto waiting = std::async(std::launch::async, [&stop] {
        try {
            PictureMemory::reserve(1 << 20, stop.get_token());
            return std::string("reserved");
        } catch (const CancelledError&) {
            return std::string("cancelled");
        }
    });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    stop.request_stop();
    EXPECT_EQ(waiting.get(), "cancelled");

    auto next = std::async(std::launch::async, [] {
        const PictureMemory::Lease lease = PictureMemory::reserve(1 << 20, {});
        return true;
    });
    EXPECT_EQ(next.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    whole.reset(); // given back: the waiting conversion goes on
    EXPECT_TRUE(next.get());
}

} // namespace
} // namespace lumatra
