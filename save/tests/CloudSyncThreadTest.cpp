// The sync worker: one job per kind, five attempts, suspend and resume, stopping; and the real
// sync job between the local file and the cloud copy.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "os/services/Documents.h"
#include "os/services/ICloud.h"
#include "save/CloudSyncThread.h"
#include "save/RoamingDataFile.h"
#include "save/RoamingDataKeyValueStore.h"
#include "testing/TestPaths.h"

using namespace std::chrono_literals;

namespace {

bool eventually(std::function<bool()> const& condition, std::chrono::milliseconds timeout = 10s) {
    auto const end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Work whose outcome the test decides; counts its runs.
struct FakeWork {
    std::atomic<int> runs{0};
    std::atomic<bool> fail{false};
    // While held, a run waits inside the job.
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    bool gateClosed = false;
    std::atomic<bool> inside{false};

    CloudSyncThread::Work work() {
        return [this](CloudSyncThread::UniqueMessage) -> boost::optional<CloudSyncError> {
            inside = true;
            {
                std::unique_lock<std::mutex> lock(gateMutex);
                gateChanged.wait(lock, [this] { return !gateClosed; });
            }
            ++runs;
            inside = false;
            if (fail) {
                return CloudSyncError::StoreUnavailable;
            }
            return boost::none;
        };
    }
    void closeGate() {
        std::lock_guard<std::mutex> lock(gateMutex);
        gateClosed = true;
    }
    void openGate() {
        {
            std::lock_guard<std::mutex> lock(gateMutex);
            gateClosed = false;
        }
        gateChanged.notify_all();
    }
};

bool idleWith(CloudSyncThread& sync, CloudSyncThread::UniqueMessage kind) {
    return eventually([&] { return !sync.isPending(kind) && sync.state() == CloudSyncThread::Idle; });
}

}  // namespace

TEST(SaveCloudSync, OneJobPerKindUntilItSucceeds) {
    FakeWork fake;
    CloudSyncThread sync(fake.work());
    EXPECT_EQ(sync.state(), CloudSyncThread::Idle);
    sync.suspend();
    sync.send(1);
    sync.send(1);
    sync.send(2);  // another kind has its own job
    EXPECT_EQ(sync.queuedJobs(), 2u);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(fake.runs, 0);  // suspended: nothing taken
    sync.resume();
    ASSERT_TRUE(idleWith(sync, 1));
    ASSERT_TRUE(idleWith(sync, 2));
    EXPECT_EQ(fake.runs, 2);
    sync.send(1);
    ASSERT_TRUE(eventually([&] { return fake.runs == 3; }));
    ASSERT_TRUE(idleWith(sync, 1));

    // A send while that kind's job runs is dropped.
    fake.closeGate();
    sync.send(1);
    ASSERT_TRUE(eventually([&] { return fake.inside.load(); }));
    sync.send(1);
    EXPECT_EQ(sync.queuedJobs(), 0u);
    fake.openGate();
    ASSERT_TRUE(idleWith(sync, 1));
    EXPECT_EQ(fake.runs, 4);
}

TEST(SaveCloudSync, GivenUpAfterFiveAttemptsAndBackAfterSuspend) {
    FakeWork fake;
    fake.fail = true;
    CloudSyncThread sync(fake.work());
    sync.send(1);
    ASSERT_TRUE(eventually([&] { return sync.failedJobs() == 1; }));
    EXPECT_TRUE(eventually([&] { return sync.state() == CloudSyncThread::IdleAfterGiveUp; }));
    EXPECT_EQ(fake.runs, 5);
    EXPECT_TRUE(sync.isPending(1));
    sync.send(1);  // dropped while given up
    EXPECT_EQ(sync.queuedJobs(), 0u);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(fake.runs, 5);

    // suspend puts it back; it waits for resume and then has five fresh attempts.
    sync.suspend();
    EXPECT_EQ(sync.failedJobs(), 0u);
    EXPECT_EQ(sync.queuedJobs(), 1u);
    EXPECT_EQ(sync.state(), CloudSyncThread::Suspended);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(fake.runs, 5);
    sync.resume();
    ASSERT_TRUE(eventually([&] { return sync.failedJobs() == 1; }));
    EXPECT_EQ(fake.runs, 10);

    sync.suspend();
    fake.fail = false;
    sync.resume();
    ASSERT_TRUE(idleWith(sync, 1));
    EXPECT_EQ(fake.runs, 11);
    EXPECT_EQ(sync.failedJobs(), 0u);
    sync.send(1);
    ASSERT_TRUE(eventually([&] { return fake.runs == 12; }));
}

TEST(SaveCloudSync, SuspendWhileRunningLetsTheJobFinish) {
    FakeWork fake;
    CloudSyncThread sync(fake.work());
    fake.closeGate();
    sync.send(1);
    ASSERT_TRUE(eventually([&] { return fake.inside.load(); }));
    EXPECT_EQ(sync.state(), CloudSyncThread::Running);
    sync.suspend();
    fake.openGate();
    ASSERT_TRUE(eventually([&] { return !sync.isPending(1); }));
    EXPECT_EQ(sync.state(), CloudSyncThread::Suspended);
    sync.send(2);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(fake.runs, 1);
    sync.resume();
    ASSERT_TRUE(idleWith(sync, 2));
    EXPECT_EQ(fake.runs, 2);

    // resume with nothing queued only makes the worker idle.
    sync.resume();
    EXPECT_EQ(sync.state(), CloudSyncThread::Idle);
}

TEST(SaveCloudSync, DestructionStopsTheWorker) {
    // With a job running: it finishes, then the worker is joined.
    {
        FakeWork fake;
        fake.closeGate();
        auto sync = std::make_unique<CloudSyncThread>(fake.work());
        sync->send(1);
        ASSERT_TRUE(eventually([&] { return fake.inside.load(); }));
        std::thread opener([&] {
            std::this_thread::sleep_for(20ms);
            fake.openGate();
        });
        sync.reset();
        opener.join();
        EXPECT_EQ(fake.runs, 1);
    }
    // With jobs queued behind a suspend: dropped.
    {
        FakeWork fake;
        CloudSyncThread sync(fake.work());
        sync.suspend();
        sync.send(1);
        sync.send(2);
    }
    // With failing jobs being retried.
    {
        FakeWork fake;
        fake.fail = true;
        CloudSyncThread sync(fake.work());
        sync.send(1);
    }
}

TEST(SaveCloudSync, SyncMergesTheFileAndTheCloudCopy) {
    testing_support::TempDir docs, cloudRoot;
    std::filesystem::path const cloud = cloudRoot / "cloud";
    setDocumentsPath(docs.path().string());
    setenv("ZELV_CLOUD_DIR", cloud.c_str(), 1);

    {
        RoamingDataFile f("roamingData");
        f.data.levelEntry(1).best() = 700;
    }
    {
        CloudSyncThread sync;
        // Signed out: five attempts, given up, the file untouched.
        sync.send(1);
        ASSERT_TRUE(eventually([&] { return sync.failedJobs() == 1; }));

        // Signing in: the next suspend and resume run it again and it succeeds.
        std::filesystem::create_directories(cloud);
        ASSERT_TRUE(initICloud());
        {
            boost::optional<CloudSyncError> error;
            RoamingDataKeyValueStore kv(error);
            ASSERT_FALSE(error);
            kv.data.levelEntry(2).goalFlags() = 3;
        }
        sync.suspend();
        sync.resume();
        ASSERT_TRUE(idleWith(sync, 1));

        // Meanwhile the game keeps using the file on its own thread.
        for (int i = 0; i < 20; ++i) {
            sync.send(1);
            RoamingDataFile f("roamingData");
            f.data.levelEntry(3 + i % 2).best() = 200 - i;  // each result better than the last
        }
        sync.send(1);
        ASSERT_TRUE(idleWith(sync, 1));
        sync.send(1);
        ASSERT_TRUE(idleWith(sync, 1));
    }
    // Both copies hold everything, with the same stamp.
    auto check = [](RoamingData const& r) {
        ASSERT_EQ(r.levelEntries().size(), 4u);
        EXPECT_EQ(r.findLevelEntry(1)->best(), 700u);
        EXPECT_EQ(r.findLevelEntry(2)->goalFlags(), 3);
        EXPECT_EQ(r.findLevelEntry(4)->best(), 181u);
    };
    std::string fileStamp;
    {
        RoamingDataFile f("roamingData");
        check(f.data);
        fileStamp = f.data.timestamp();
    }
    {
        boost::optional<CloudSyncError> error;
        RoamingDataKeyValueStore kv(error);
        ASSERT_FALSE(error);
        check(kv.data);
        EXPECT_EQ(kv.data.timestamp(), fileStamp);
    }
    shutdownICloud();
    unsetenv("ZELV_CLOUD_DIR");
}
