// The folder-backed key-value store: values, availability, atomic replacement and the
// changed-externally announcements.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/AtomicFile.h"
#include "platform/KeyValueStore.h"
#include "testing/TestPaths.h"

using platform::KeyValueStore;

namespace {

// Collects announcements from the watcher thread.
struct Announcements {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<KeyValueStore::ChangeReason, std::vector<std::string>>> seen;

    KeyValueStore::ChangeHandler handler() {
        return [this](KeyValueStore::ChangeReason reason, std::vector<std::string> const& keys) {
            std::lock_guard<std::mutex> lock(mutex);
            seen.emplace_back(reason, keys);
            changed.notify_all();
        };
    }
    bool waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return seen.size() >= count; });
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return seen.size();
    }
};

}  // namespace

TEST(PlatformKeyValueStore, ValuesAndAvailability) {
    testing_support::TempDir temp;
    KeyValueStore missing(temp / "none");
    EXPECT_FALSE(missing.available());
    EXPECT_FALSE(missing.data("roamingData"));
    EXPECT_FALSE(missing.setData("roamingData", {1}));

    std::ofstream(temp / "file") << "x";
    EXPECT_FALSE(KeyValueStore(temp / "file").available());

    KeyValueStore store(temp.path());
    ASSERT_TRUE(store.available());
    auto nothing = store.data("roamingData");
    ASSERT_TRUE(nothing);
    EXPECT_TRUE(nothing->empty());
    std::vector<uint8_t> value(70000);
    for (size_t i = 0; i < value.size(); ++i) {
        value[i] = static_cast<uint8_t>(i * 7);
    }
    ASSERT_TRUE(store.setData("roamingData", value));
    EXPECT_EQ(*store.data("roamingData"), value);
    ASSERT_TRUE(store.setData("roamingData", {9}));
    EXPECT_EQ(*store.data("roamingData"), std::vector<uint8_t>{9});

    // Keys never name anything outside the folder; oversized values are refused.
    for (char const* key : {"", "../escape", ".hidden", "a/b"}) {
        EXPECT_FALSE(store.setData(key, {1})) << key;
        EXPECT_FALSE(store.data(key)) << key;
    }
    EXPECT_FALSE(store.setData("big", std::vector<uint8_t>(KeyValueStore::kMaxValueSize + 1)));
    std::ofstream(temp / "big", std::ios::binary) << std::string(KeyValueStore::kMaxValueSize + 1, 'x');
    ASSERT_TRUE(store.data("big"));
    EXPECT_TRUE(store.data("big")->empty());

    // A pipe or a folder in a value's place is unreadable, and reading it does not wait.
    ASSERT_EQ(::mkfifo((temp / "piped").c_str(), 0600), 0);
    EXPECT_FALSE(store.data("piped"));
    std::filesystem::create_directories(temp / "folder");
    EXPECT_FALSE(store.data("folder"));
    EXPECT_EQ(platform::readWholeFile(temp / "piped", 100).status, platform::WholeFile::Failed);

    // No temporary files are left behind.
    for (auto const& entry : std::filesystem::directory_iterator(temp.path())) {
        EXPECT_FALSE(platform::isAtomicWriteTemp(entry.path().filename().string())) << entry.path();
    }
}

TEST(PlatformKeyValueStore, AtomicWriteFailsCleanly) {
    testing_support::TempDir temp;
    std::string error;
    uint8_t const bytes[] = {1, 2, 3};
    EXPECT_FALSE(platform::writeFileAtomically(temp / "missing" / "f", bytes, 3, &error));
    EXPECT_FALSE(error.empty());
    std::filesystem::create_directories(temp / "target");  // cannot rename a file over a folder
    EXPECT_FALSE(platform::writeFileAtomically(temp / "target", bytes, 3, &error));
    for (auto const& entry : std::filesystem::directory_iterator(temp.path())) {
        EXPECT_FALSE(platform::isAtomicWriteTemp(entry.path().filename().string())) << entry.path();
    }
}

// A sweep at start beside a write under way (another store, another thread): a temporary file
// it takes before the writer holds it is written again under a new name, never lost.
TEST(PlatformKeyValueStore, AtomicWritesOutlastSweepsBesideThem) {
    testing_support::TempDir temp;
    auto const target = temp / "roamingData";
    std::atomic<bool> done{false};
    std::thread sweepers[4];
    for (auto& sweeper : sweepers)
        sweeper = std::thread([&] {
            while (!done.load()) platform::removeStaleAtomicWriteTemps(temp.path(), 0);
        });
    int failed = 0;
    std::string error;
    for (int i = 0; i < 400; ++i) {
        std::string const text = "write " + std::to_string(i);
        if (!platform::writeFileAtomically(target, reinterpret_cast<uint8_t const*>(text.data()), text.size(), &error))
            ++failed;
    }
    done = true;
    for (auto& sweeper : sweepers) sweeper.join();
    EXPECT_EQ(failed, 0) << error;
    auto const last = platform::readWholeFile(target, 1 << 20).bytes;
    EXPECT_EQ(std::string(last.begin(), last.end()), "write 399");
    for (auto const& entry : std::filesystem::directory_iterator(temp.path()))
        EXPECT_FALSE(platform::isAtomicWriteTemp(entry.path().filename().string())) << entry.path();
}

TEST(PlatformKeyValueStore, AnnouncesOtherWritersOnly) {
    testing_support::TempDir temp;
    Announcements heard;
    {
        KeyValueStore store(temp.path());
        store.setChangeHandler(heard.handler());

        // Our own writes are not announced.
        ASSERT_TRUE(store.setData("roamingData", {1}));
        ASSERT_TRUE(store.setData("roamingData", {2}));

        // Other writers: one in place, one renaming its temporary file over the key.
        std::ofstream(temp / "otherKey", std::ios::binary) << "abc";
        ASSERT_TRUE(heard.waitFor(1));
        {
            std::lock_guard<std::mutex> lock(heard.mutex);
            EXPECT_EQ(heard.seen[0].first, KeyValueStore::ChangeReason::ServerChange);
            EXPECT_EQ(heard.seen[0].second, std::vector<std::string>{"otherKey"});
        }
        // A rename from a temp file of another process.
        std::ofstream(temp / ".roamingData.feedbeef.0.tmp", std::ios::binary) << "x";
        std::filesystem::rename(temp / ".roamingData.feedbeef.0.tmp", temp / "roamingData");
        ASSERT_TRUE(heard.waitFor(2));
        {
            std::lock_guard<std::mutex> lock(heard.mutex);
            EXPECT_EQ(heard.seen[1].second, std::vector<std::string>{"roamingData"});
        }
        size_t const before = heard.count();
        ASSERT_TRUE(store.setData("roamingData", {3}));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(heard.count(), before);

        // The folder going away is an account change.
        std::filesystem::remove_all(temp.path());
        auto sawAccountChange = [&] {
            std::lock_guard<std::mutex> lock(heard.mutex);
            return std::any_of(heard.seen.begin(), heard.seen.end(), [](auto const& s) {
                return s.first == KeyValueStore::ChangeReason::AccountChange;
            });
        };
        for (int i = 0; i < 500 && !sawAccountChange(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(sawAccountChange());
        EXPECT_FALSE(store.available());
    }  // the destructor stops the watcher
    std::filesystem::create_directories(temp.path());
}
