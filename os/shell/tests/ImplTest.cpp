// The real app frame's hooks that read the player's save record.
#include <gtest/gtest.h>

#include <filesystem>

#include "os/services/Documents.h"
#include "os/shell/Impl.h"
#include "save/RoamingDataFile.h"
#include "testing/TestPaths.h"

TEST(ShellImpl, LevelsUnlockOnlyWithASaveEntryAndTheRecordIsLeftUntouched) {
    testing_support::TempDir docs;
    setDocumentsPath(docs.path().string());
    auto const file = docs.path() / "roamingData";

    // No save record at all: nothing is unlocked, and looking does not create one.
    EXPECT_FALSE(os::Impl::isLevelUnlocked(0));
    EXPECT_FALSE(std::filesystem::exists(file));

    {
        RoamingDataFile save("roamingData");
        save.data.levelEntry(2);
    }
    ASSERT_TRUE(std::filesystem::exists(file));
    auto const written = std::filesystem::last_write_time(file);

    EXPECT_TRUE(os::Impl::isLevelUnlocked(2));
    EXPECT_FALSE(os::Impl::isLevelUnlocked(3));
    EXPECT_FALSE(os::Impl::isLevelUnlocked(uint64_t(1) << 32 | 2));  // would wrap onto level 2
    EXPECT_EQ(std::filesystem::last_write_time(file), written);
}
