// The installed services outlive the process's own teardown: a thread still running when the
// process ends keeps reaching them.
#include "platform/Time.h"
#include "support/memory/MemoryClock.h"
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(ServiceSlots, AThreadStillRunningWhenTheProcessEndsKeepsItsService) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child runs this alone, in a platform root of its own, which it removes before it ends.
    EXPECT_EXIT(
        {
            installService<TimeService>(std::make_unique<MemoryClock>(0, 0));
            constexpr int threads = 4;
            for (int i = 0; i < threads; i++)
                std::thread([] {
                    for (;;)
                        Time::current(0, 0);
                }).detach();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::error_code ignored;
            std::filesystem::remove_all(std::getenv("ORVANE_ROOT"), ignored);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
