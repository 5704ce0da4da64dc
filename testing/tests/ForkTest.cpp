// The tests fork beside threads of the code under test that allocate and start threads; a child
// must be able to do both whatever they were doing as it was forked, in every build.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "testing/SanitizerForkLocks.h"
#include "testing/TestPaths.h"

namespace {

TEST(Forks, AChildAllocatesAndStartsThreadsWhateverTheParentsThreadsWereDoing) {
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
    EXPECT_TRUE(testing_support::sanitizerForkLocksAdded());
#endif
#endif
    // Blocks of every size class, taken and given back in batches, so that the threads' caches
    // go to the allocator's shared regions all the time; and short threads started and joined.
    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (int t = 0; t < 3; ++t)
        busy.emplace_back([&stop, t] {
            while (!stop.load(std::memory_order_relaxed)) {
                std::vector<std::unique_ptr<char[]>> blocks;
                for (size_t size = 16; size < (t == 2 ? (1u << 20) : (1u << 16)); size = size * 5 / 4 + 16)
                    for (int n = 0; n < 8; ++n) blocks.emplace_back(new char[size]);
                if (t == 0) std::thread([] {}).join();
            }
        });
    // Each child allocates across the size classes and starts a thread: a lock left taken by a
    // thread the child does not have would hold it for ever, and this loop with it.
    int ended = 0;
    for (int round = 0; round < 100; ++round)
        ended += testing_support::inProcessesAtOnce(2, [](int) {
            std::vector<std::unique_ptr<char[]>> blocks;
            for (size_t size = 16; size < (1u << 20); size = size * 5 / 4 + 16)
                for (int n = 0; n < (size < (16u << 10) ? 32 : 1); ++n) blocks.emplace_back(new char[size]);
            bool started = false;
            std::thread([&] { started = !blocks.empty(); }).join();
            return started;
        });
    stop = true;
    for (auto& t : busy) t.join();
    EXPECT_EQ(ended, 100);
}

}  // namespace
