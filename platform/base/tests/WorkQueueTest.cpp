#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/base/WorkQueue.h"

using platform::WorkQueue;
using namespace std::chrono_literals;

TEST(WorkQueue, SerialRunsInSubmissionOrderAndSyncSeesEarlierWrites) {
    WorkQueue q("test.serial");
    std::vector<int> seen;  // touched only on the queue
    for (int i = 0; i < 200; ++i) q.async([&, i] { seen.push_back(i); });
    std::vector<int> copy;
    q.sync([&] { copy = seen; });
    ASSERT_EQ(copy.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(copy[i], i);

    // Blocks submitted from several threads never overlap on a serial queue.
    std::atomic<int> inside{0}, overlaps{0};
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t)
        posters.emplace_back([&] {
            for (int i = 0; i < 50; ++i)
                q.async([&] {
                    if (inside.fetch_add(1) != 0) overlaps++;
                    inside.fetch_sub(1);
                });
        });
    for (auto& t : posters) t.join();
    q.waitUntilIdle();
    EXPECT_EQ(overlaps.load(), 0);
}

TEST(WorkQueue, BarriersKeepOrderAndReadsRunBesideEachOther) {
    WorkQueue q("test.concurrent", WorkQueue::Kind::Concurrent);
    int value = 0;
    std::mutex logMutex;
    std::vector<std::string> log;
    auto note = [&](std::string s) {
        std::lock_guard<std::mutex> lock(logMutex);
        log.push_back(std::move(s));
    };
    // Two reads that can only finish together prove they run at once.
    std::promise<void> firstIn, secondIn;
    auto first = firstIn.get_future().share(), second = secondIn.get_future().share();
    q.async([&] {
        firstIn.set_value();
        second.wait();
        note("read1");
    });
    q.async([&] {
        secondIn.set_value();
        first.wait();
        note("read2");
    });
    q.asyncBarrier([&] {
        value = 1;
        note("write");
    });
    q.async([&] { note(value == 1 ? "read-after" : "read-before"); });
    // A sync read after a pending barrier waits for it; the async write is seen.
    int seen = -1;
    q.sync([&] { seen = value; });
    EXPECT_EQ(seen, 1);
    q.waitUntilIdle();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2], "write");
    EXPECT_EQ(log[3], "read-after");
}

TEST(WorkQueue, SyncReadIsNotHeldUpByALongAsyncRead) {
    WorkQueue q("test.maps", WorkQueue::Kind::Concurrent);
    std::promise<void> release;
    auto gate = release.get_future().share();
    q.async([gate] { gate.wait(); });  // a save holding the map for a while
    std::this_thread::sleep_for(10ms);
    bool ran = false;
    q.sync([&] { ran = true; });  // would deadlock if it waited for the save
    EXPECT_TRUE(ran);
    EXPECT_FALSE(q.waitUntilIdleFor(20ms));  // a bounded wait gives up on the held save
    release.set_value();
    EXPECT_TRUE(q.waitUntilIdleFor(60s));
}

TEST(WorkQueue, NestedSyncRunsInlineAndThrowsReachTheCaller) {
    WorkQueue q("test.nested");
    int depth = 0;
    q.sync([&] {
        EXPECT_TRUE(q.isCurrent());
        q.sync([&] { depth = 2; });  // onto its own queue: inline, not a hang
    });
    EXPECT_EQ(depth, 2);
    EXPECT_FALSE(q.isCurrent());

    EXPECT_THROW(q.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
    q.async([] { throw std::runtime_error("logged"); });
    int after = 0;
    q.sync([&] { after = 1; });  // the queue goes on after both
    EXPECT_EQ(after, 1);

    WorkQueue c("test.nested.concurrent", WorkQueue::Kind::Concurrent);
    EXPECT_THROW(c.syncBarrier([] { throw std::logic_error("x"); }), std::logic_error);
    c.syncBarrier([&] { c.syncBarrier([&] { after = 3; }); });
    EXPECT_EQ(after, 3);
}

TEST(WorkQueue, ReleasedByItsOwnBlock) {
    auto q = std::make_shared<WorkQueue>("test.self");
    std::promise<void> done;
    std::weak_ptr<WorkQueue> weak = q;
    q->async([&, keep = q]() mutable {
        keep.reset();  // not the last reference yet
    });
    q->async([holder = std::move(q), &done]() mutable {
        holder.reset();  // the last one: the queue dies on its own worker
        done.set_value();
    });
    done.get_future().wait();
    for (int i = 0; i < 100 && !weak.expired(); ++i) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(weak.expired());
}

// No thread starts while each new one asks for more stack than the address space holds, as under
// a limit on threads: sync callers (reads too) run the blocks ahead of their own in order, and so does the end.
TEST(WorkQueue, WithoutAThreadToSpareSyncCallersRunTheBlocksAheadInOrder) {
    pthread_attr_t saved, huge;
    pthread_getattr_default_np(&saved), pthread_attr_init(&huge), pthread_attr_setstacksize(&huge, size_t(1) << 62);
    pthread_setattr_default_np(&huge);
    std::vector<int> seen;
    auto outer = std::make_unique<WorkQueue>("test.nothread.outer");
    WorkQueue inner("test.nothread.inner", WorkQueue::Kind::Concurrent), later("test.nothread.later");
    for (int i = 0; i < 3; ++i) outer->async([&, i] { seen.push_back(i); });
    inner.asyncBarrier([&] { seen.push_back(3); });
    outer->async([&] { inner.sync([&] { seen.push_back(4); }); });  // onto another starved queue
    outer->sync([&] { seen.push_back(5); });
    outer->async([&] { seen.push_back(6); });  // nobody waits for it: it runs as the queue goes
    outer.reset();
    later.async([&] { seen.push_back(7); });
    int readsRun = 0, seenByRead = -1;
    for (int i = 0; i < 3; ++i) inner.async([&] { ++readsRun; });
    inner.sync([&] { seenByRead = readsRun; });
    inner.async([&] { ++readsRun; });
    bool const idle = inner.waitUntilIdleFor(0ms);  // no worker to wait for: the caller runs it
    pthread_setattr_default_np(&saved);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(seenByRead, 3);
    EXPECT_TRUE(idle && readsRun == 4);
    // With threads back the next submit starts a worker, which first runs the block left waiting.
    std::thread::id ranOn = std::this_thread::get_id();
    later.async([&] { ranOn = std::this_thread::get_id(); });
    later.waitUntilIdle();
    EXPECT_TRUE(seen.size() == 8 && ranOn != std::this_thread::get_id());
}
