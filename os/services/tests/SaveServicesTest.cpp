// Time strings, the documents folder and the cloud store's availability.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "os/services/Documents.h"
#include "os/services/ICloud.h"
#include "os/services/TimeStrings.h"
#include "testing/TestPaths.h"

TEST(SaveServices, TimeStringsAreUtcInEveryZone) {
    for (char const* zone : {"UTC", "Asia/Tokyo", "America/Los_Angeles"}) {
        setenv("TZ", zone, 1);
        tzset();
        EXPECT_EQ(parseTimeString("1970-01-01T00:00:00"), 0) << zone;
        EXPECT_EQ(parseTimeString("2016-03-01T12:34:56"), 1456835696) << zone;
        EXPECT_EQ(parseTimeString("2016-02-29T00:00:00"), 1456704000) << zone;
    }
    unsetenv("TZ");
    tzset();
    for (char const* bad : {"", "not a time", "2016-03-01 12:34:56", "2016-03-01T12:34:5", "2016-03-01T12:34:567",
                            "2015-02-29T00:00:00", "2016-13-01T00:00:00", "2016-03-01T24:00:00",
                            "2016-03-01T12:60:00", "2016-03-01T12:34:56Z", "+016-03-01T12:34:56"}) {
        EXPECT_EQ(parseTimeString(bad), 0) << bad;
    }
    EXPECT_EQ(parseTimeString(nullptr), 0);

    std::string const now = utcNowString();
    ASSERT_EQ(now.size(), 19u);
    EXPECT_LE(std::llabs(parseTimeString(now.c_str()) - static_cast<long long>(std::time(nullptr))), 2);
}

TEST(SaveServices, DocumentsFolderFromTheEnvironment) {
    setenv("ZELV_DOCUMENTS_DIR", "/tmp/docs", 1);
    EXPECT_EQ(defaultDocumentsPath(), "/tmp/docs/");
    unsetenv("ZELV_DOCUMENTS_DIR");
    setenv("XDG_DATA_HOME", "/data/home/", 1);
    EXPECT_EQ(defaultDocumentsPath(), "/data/home/zelv/");
    setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored
    setenv("HOME", "/home/player", 1);
    EXPECT_EQ(defaultDocumentsPath(), "/home/player/.local/share/zelv/");
    unsetenv("XDG_DATA_HOME");
    setDocumentsPath("/somewhere");
    EXPECT_STREQ(documentsPath(), "/somewhere/");
}

TEST(SaveServices, CloudStoreFollowsItsFolder) {
    testing_support::TempDir temp;
    std::filesystem::path const folder = temp / "cloud";
    setenv("ZELV_CLOUD_DIR", folder.c_str(), 1);
    EXPECT_EQ(cloudStorePath(), folder.string() + "/");

    // No folder: signed out.
    EXPECT_FALSE(iCloudAvailable());
    EXPECT_FALSE(initICloud());
    EXPECT_FALSE(loadRoamingData());
    EXPECT_FALSE(saveRoamingData({1, 2, 3}));

    // A folder that is not set up yet answers nothing either.
    std::filesystem::create_directories(folder);
    EXPECT_TRUE(iCloudAvailable());
    EXPECT_FALSE(loadRoamingData());

    ASSERT_TRUE(initICloud());
    EXPECT_TRUE(initICloud());
    auto empty = loadRoamingData();
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    EXPECT_TRUE(saveRoamingData({1, 2, 3}));
    auto back = loadRoamingData();
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, (std::vector<uint8_t>{1, 2, 3}));

    // The folder going away signs the player out.
    std::filesystem::remove_all(folder);
    EXPECT_FALSE(iCloudAvailable());
    EXPECT_FALSE(loadRoamingData());
    EXPECT_FALSE(saveRoamingData({4}));
    shutdownICloud();
    unsetenv("ZELV_CLOUD_DIR");
}
