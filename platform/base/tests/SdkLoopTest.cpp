#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/base/SdkLoop.h"

using platform::SdkLoop;

TEST(SdkLoop, VirtualClockFiresTimersInTimeOrderOnTheLoopThread) {
    SdkLoop loop;
    loop.setVirtualClock(true);
    std::vector<std::string> fired;  // written on the loop thread, read after advance returns
    std::atomic<bool> onLoop{true};
    auto heartbeat = loop.scheduleTimer(1000, true, [&] {
        fired.push_back("beat@" + std::to_string(loop.nowMs()));
        if (!loop.isLoopThread()) onLoop = false;
    });
    int64_t const start = loop.nowMs();
    loop.scheduleTimer(2500, false, [&] { fired.push_back("once"); });
    loop.after(1500, [&] { fired.push_back("after"); });
    loop.post([&] { fired.push_back("posted"); });
    loop.waitUntilIdle();
    ASSERT_EQ(fired, std::vector<std::string>{"posted"});

    loop.advance(3000);
    std::vector<std::string> const want{"posted",
                                        "beat@" + std::to_string(start + 1000),
                                        "after",
                                        "beat@" + std::to_string(start + 2000),
                                        "once",
                                        "beat@" + std::to_string(start + 3000)};
    EXPECT_EQ(fired, want);
    EXPECT_TRUE(onLoop.load());
    EXPECT_EQ(loop.nowMs(), start + 3000);

    loop.invalidateTimer(heartbeat);
    EXPECT_FALSE(loop.isTimerValid(heartbeat));
    loop.advance(5000);
    EXPECT_EQ(fired.size(), want.size());
}

TEST(SdkLoop, RealClockRunsPostsAndSurvivesThrowingBlocks) {
    SdkLoop loop;
    std::atomic<int> ran{0};
    loop.post([] { throw std::runtime_error("logged"); });
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t)
        posters.emplace_back([&] {
            for (int i = 0; i < 25; ++i) loop.post([&] { ran++; });
        });
    for (auto& t : posters) t.join();
    loop.waitUntilIdle();
    EXPECT_EQ(ran.load(), 100);
    std::atomic<bool> timer{false};
    loop.scheduleTimer(5, false, [&] { timer = true; });
    for (int i = 0; i < 500 && !timer; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(timer.load());
}
