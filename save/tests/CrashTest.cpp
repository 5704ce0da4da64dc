// A process killed at any moment while saving leaves a save file that loads completely: the
// record before or after the interrupted write, never a torn one, never the defaults.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include "os/services/Documents.h"
#include "save/RoamingDataFile.h"
#include "testing/TestPaths.h"

namespace {

constexpr uint32_t kLevels = 400;

// Every generation writes the same value everywhere, so a torn record would show.
[[noreturn]] void saveForever(uint64_t first) {
    for (uint64_t generation = first;; ++generation) {
        RoamingDataFile f("roamingData");
        for (uint32_t level = 0; level < kLevels; ++level) {
            f.data.levelEntry(level).best() = generation;
        }
        f.data.setHardcoreBestTime(generation);
    }
}

}  // namespace

TEST(SaveCrash, KilledWhileSavingLeavesOneCompleteRecord) {
    testing_support::TempDir docs;
    setDocumentsPath(docs.path().string());
    {
        RoamingDataFile f("roamingData");
        for (uint32_t level = 0; level < kLevels; ++level) {
            f.data.levelEntry(level).best() = 1;
        }
        f.data.setHardcoreBestTime(1);
    }
    std::mt19937 rng(1234);
    uint64_t last = 1;
    for (int round = 0; round < 60; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            saveForever(last + 1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + rng() % 30000));
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        std::ifstream in(docs / "roamingData", std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        RoamingData r(false);
        ASSERT_TRUE(r.load(bytes.data(), bytes.size())) << "round " << round;
        uint64_t const generation = r.hardcoreBestTime();
        ASSERT_GE(generation, last) << "round " << round;
        ASSERT_EQ(r.levelEntries().size(), kLevels);
        for (auto const& e : r.levelEntries()) {
            ASSERT_EQ(e.best(), generation) << "round " << round << " level " << e.levelId();
        }
        last = generation;
    }
    EXPECT_GT(last, 60u);  // the children did get to save
    EXPECT_FALSE(std::filesystem::exists(docs / "roamingData.bad"));
}
