// The scoped accessors of the local save file and the cloud copy.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "os/services/Documents.h"
#include "os/services/ICloud.h"
#include "platform/base/AtomicFile.h"
#include "save/RoamingDataFile.h"
#include "save/RoamingDataKeyValueStore.h"
#include "save/tests/RoamingDataTestAccess.h"
#include "testing/TestPaths.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> readFile(fs::path const& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeFile(fs::path const& path, std::vector<uint8_t> const& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<char const*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class SaveAccessors : public ::testing::Test {
protected:
    void SetUp() override {
        setDocumentsPath(docs.path().string());
        fs::create_directories(cloud);
        setenv("ZELV_CLOUD_DIR", cloud.c_str(), 1);
        ASSERT_TRUE(initICloud());
    }
    void TearDown() override {
        shutdownICloud();
        unsetenv("ZELV_CLOUD_DIR");
    }
    fs::path file() const { return docs / "roamingData"; }

    testing_support::TempDir docs;
    testing_support::TempDir cloudRoot;
    fs::path cloud = cloudRoot / "cloud";
};

}  // namespace

TEST_F(SaveAccessors, FileWrittenOnlyWhenChanged) {
    { RoamingDataFile f("roamingData"); }
    EXPECT_FALSE(fs::exists(file()));

    {
        RoamingDataFile f("roamingData");
        f.data.levelEntry(3);
    }
    {
        RoamingDataFile f("roamingData");
        EXPECT_TRUE(f.data.hasLevelEntry(3));
        EXPECT_NE(f.data.timestamp(), "1970-01-01T00:00:00");
    }

    // Untouched: same bytes and same modification time.
    RoamingData old(false);
    RoamingDataTestAccess::setEntry(old, 3, 1, 500);
    old.commit();
    RoamingDataTestAccess::setTimestamp(old, "2001-01-01T00:00:00");
    writeFile(file(), old.save());
    struct stat before {};
    ::stat(file().c_str(), &before);
    std::vector<uint8_t> const bytes = readFile(file());
    { RoamingDataFile f("roamingData"); }
    struct stat after {};
    ::stat(file().c_str(), &after);
    EXPECT_EQ(readFile(file()), bytes);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(before.st_ino, after.st_ino);

    // Reading a mutable accessor counts as a change: rewritten and re-stamped.
    {
        RoamingDataFile f("roamingData");
        EXPECT_EQ(f.data.levelEntry(3).best(), 500u);
    }
    RoamingDataFile f("roamingData");
    EXPECT_NE(f.data.timestamp(), "2001-01-01T00:00:00");
    EXPECT_EQ(f.data.levelEntries()[0].goalFlags(), 1);
}

TEST_F(SaveAccessors, MissingDocumentsFolderIsCreated) {
    setDocumentsPath((docs / "not" / "yet").string());
    {
        RoamingDataFile f("roamingData");
        f.data.setControlScheme(1);
    }
    RoamingDataFile f("roamingData");
    EXPECT_EQ(f.data.controlScheme(), 1);
}

TEST_F(SaveAccessors, DamagedFileIsKeptAsideBeforeItIsReplaced) {
    std::vector<uint8_t> const garbage = {0x10, 0, 0, 0, 'n', 'o', 't', ' ', 'z', 'l', 'i', 'b'};
    writeFile(file(), garbage);
    {
        RoamingDataFile f("roamingData");
        EXPECT_TRUE(f.data.levelEntries().empty());
    }
    // Nothing changed: nothing written, nothing moved.
    EXPECT_EQ(readFile(file()), garbage);
    EXPECT_FALSE(fs::exists(docs / "roamingData.bad"));
    {
        RoamingDataFile f("roamingData");
        f.data.levelEntry(1).best() = 42;
    }
    EXPECT_EQ(readFile(docs / "roamingData.bad"), garbage);
    RoamingDataFile f("roamingData");
    EXPECT_EQ(f.data.levelEntry(1).best(), 42u);
}

TEST_F(SaveAccessors, OversizedFileIsRefusedUnread) {
    {
        std::ofstream out(file(), std::ios::binary);
    }
    ASSERT_EQ(::truncate(file().c_str(), static_cast<off_t>(RoamingDataFile::maxFileSize() + 4096)), 0);
    {
        RoamingDataFile f("roamingData");
        EXPECT_TRUE(f.data.levelEntries().empty());
        f.data.setNoticeFlags(1);
    }
    EXPECT_EQ(fs::file_size(docs / "roamingData.bad"), RoamingDataFile::maxFileSize() + 4096);
    RoamingDataFile f("roamingData");
    EXPECT_EQ(f.data.noticeFlags(), 1u);
}

TEST_F(SaveAccessors, SecondAccessorWaitsForTheFirst) {
    std::atomic<bool> firstOpen{false}, firstClosed{false};
    std::thread first([&] {
        RoamingDataFile f("roamingData");
        f.data.levelEntry(1).best() = 1;
        firstOpen = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        firstClosed = true;  // the accessor closes (and writes) right after
    });
    while (!firstOpen) {
        std::this_thread::yield();
    }
    {
        RoamingDataFile f("roamingData");
        EXPECT_TRUE(firstClosed.load());
        EXPECT_TRUE(f.data.hasLevelEntry(1));  // the first accessor's write is already there
    }
    first.join();
}

TEST_F(SaveAccessors, KeyValueStoreAccessor) {
    boost::optional<CloudSyncError> error = CloudSyncError::StoreUnavailable;
    {
        RoamingDataKeyValueStore kv(error);
        EXPECT_FALSE(error);
        EXPECT_TRUE(kv.data.levelEntries().empty());
        kv.data.levelEntry(6).goalFlags() = 4;
    }
    EXPECT_FALSE(error);
    {
        RoamingDataKeyValueStore kv(error);
        EXPECT_EQ(kv.data.levelEntry(6).goalFlags(), 4);
    }

    // Signed out: the error is set and nothing is written, whatever changed.
    std::vector<uint8_t> const stored = readFile(cloud / "roamingData");
    fs::rename(cloud, cloudRoot / "away");
    {
        RoamingDataKeyValueStore kv(error);
        EXPECT_TRUE(error == CloudSyncError::StoreUnavailable);
        kv.data.setControlScheme(1);
    }
    fs::rename(cloudRoot / "away", cloud);
    EXPECT_EQ(readFile(cloud / "roamingData"), stored);

    // A write that does not reach the store is reported, so the sync is tried again.
    {
        RoamingDataKeyValueStore kv(error);
        EXPECT_FALSE(error);
        kv.data.setControlScheme(1);
        fs::rename(cloud, cloudRoot / "away");
    }
    EXPECT_TRUE(error == CloudSyncError::StoreUnavailable);
    fs::rename(cloudRoot / "away", cloud);

    // A record too large to be loaded back is not written over the readable copy.
    {
        RoamingDataKeyValueStore kv(error);
        RoamingDataTestAccess::addEntries(kv.data, 90000);
    }
    EXPECT_TRUE(error == CloudSyncError::StoreUnavailable);
    EXPECT_EQ(readFile(cloud / "roamingData"), stored);
}

// A save from a newer version is read as far as it reads, and its bytes are kept before the
// first write; a damaged or newer cloud copy is kept beside itself in the cloud folder.
TEST_F(SaveAccessors, NewerOrDamagedCopiesAreKeptAsideBeforeTheFirstWrite) {
    RoamingData record(false);
    RoamingDataTestAccess::setEntry(record, 2, 1, 500);
    record.setControlScheme(2);
    record.commit();
    std::vector<uint8_t> const newer = withClassVersion(record.save(), 7);
    ASSERT_FALSE(newer.empty());
    writeFile(file(), newer);
    {
        RoamingDataFile f("roamingData");
        EXPECT_TRUE(f.data.fromNewerVersion());
        EXPECT_EQ(f.data.controlScheme(), 2);
    }
    EXPECT_EQ(readFile(file()), newer);  // nothing changed, nothing written
    EXPECT_FALSE(fs::exists(docs / "roamingData.newer"));
    {
        RoamingDataFile f("roamingData");
        f.data.levelEntry(3).best() = 7;
    }
    EXPECT_EQ(readFile(docs / "roamingData.newer"), newer);
    {
        RoamingDataFile f("roamingData");
        EXPECT_FALSE(f.data.fromNewerVersion());
        EXPECT_EQ(f.data.levelEntry(2).best(), 500u);
        f.data.levelEntry(3).best() = 6;
    }
    EXPECT_EQ(readFile(docs / "roamingData.newer"), newer);  // the original, not the rewrite

    std::vector<uint8_t> const garbage = {0x10, 0, 0, 0, 'n', 'o', 't', ' ', 'z', 'l', 'i', 'b'};
    for (auto const& [stored, aside] : {std::pair{garbage, "roamingData.bad"}, std::pair{newer, "roamingData.newer"}}) {
        SCOPED_TRACE(aside);
        writeFile(cloud / "roamingData", stored);
        boost::optional<CloudSyncError> error;
        {
            RoamingDataKeyValueStore kv(error);
            kv.data.setNoticeFlags(4);
        }
        EXPECT_FALSE(error);
        EXPECT_EQ(readFile(cloud / aside), stored);
        RoamingDataKeyValueStore kv(error);
        EXPECT_EQ(kv.data.noticeFlags(), 4u);
    }
    // Where the copy cannot be kept, it is not replaced and the sync tries again later.
    writeFile(cloud / "roamingData", garbage);
    fs::remove(cloud / "roamingData.bad");
    fs::create_directories(cloud / "roamingData.bad" / "blocked");
    boost::optional<CloudSyncError> error;
    {
        RoamingDataKeyValueStore kv(error);
        kv.data.setNoticeFlags(8);
    }
    EXPECT_TRUE(error == CloudSyncError::StoreUnavailable);
    EXPECT_EQ(readFile(cloud / "roamingData"), garbage);
}

// Temp files a killed write left behind go at start-up, however young: ours only, never one held.
TEST_F(SaveAccessors, StaleTempFilesOfInterruptedWritesAreRemoved) {
    auto touch = [](fs::path const& p, int64_t ageSeconds) {
        writeFile(p, {1, 2, 3});
        fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
    };
    std::vector<fs::path> gone, kept;
    for (fs::path const& folder : {docs.path(), cloud}) {
        gone.push_back(folder / ".roamingData.0123456789abcdef.3.tmp");
        gone.push_back(folder / ".leaderboards.fedcba9876543210.12.tmp");
        kept.push_back(folder / ".roamingData.tmp");
        kept.push_back(folder / ".roamingData.0123456789ABCDEF.1.tmp");
        kept.push_back(folder / ".roamingData.0123456789abcdef.x.tmp");
        kept.push_back(folder / "roamingData.0123456789abcdef.1.tmp");
        kept.push_back(folder / "roamingData");
    }
    platform::FileLock const writer(kept.emplace_back(docs / ".roamingData.0123456789abcdef.5.tmp"));
    for (auto const& p : gone) touch(p, 3600);
    for (auto const& p : kept) touch(p, 3600);
    writeFile(gone.emplace_back(docs / ".roamingData.0123456789abcdef.4.tmp"), {});  // young, but nobody holds it
    fs::create_directories(docs / ".roamingData.0123456789abcdef.9.tmp");
    fs::last_write_time(docs / ".roamingData.0123456789abcdef.9.tmp",
                        fs::file_time_type::clock::now() - std::chrono::hours(1));
    RoamingDataFile::removeStaleTempFiles();
    for (auto const& p : gone) EXPECT_FALSE(fs::exists(p)) << p;
    for (auto const& p : kept) EXPECT_TRUE(fs::exists(p)) << p;
    EXPECT_TRUE(fs::exists(docs / ".roamingData.0123456789abcdef.9.tmp"));
}
