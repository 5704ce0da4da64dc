// A process killed at any moment while saving leaves a save file that loads completely: the
// record before or after the interrupted write, never a torn one, never the defaults.
#include <gtest/gtest.h>

#include <poll.h>
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

// Every generation writes the same value everywhere, so a torn record would show. The first
// finished save is told through `saved`, so a loaded machine cannot starve a child of any save.
[[noreturn]] void saveForever(uint64_t first, int saved) {
    for (uint64_t generation = first;; ++generation) {
        {
            RoamingDataFile f("roamingData");
            for (uint32_t level = 0; level < kLevels; ++level) {
                f.data.levelEntry(level).best() = generation;
            }
            f.data.setHardcoreBestTime(generation);
        }
        if (generation == first) {
            char const one = 1;
            (void)!write(saved, &one, 1);
        }
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
        int saved[2];
        ASSERT_EQ(pipe(saved), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(saved[0]);
            saveForever(last + 1, saved[1]);
        }
        close(saved[1]);
        // Killed at a random moment after its first save, usually inside a later one.
        pollfd ready{saved[0], POLLIN, 0};
        poll(&ready, 1, 60000);
        close(saved[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 30000));
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
