// The built string tables hold every text the download bar, the leaderboards, the credits and the
// main menu's notice read, in every shipped language, and the sample credits exercise the whole
// walk: names-only and roles-and-names entries, a store-only number skipped in the middle, and the
// swapped pair.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fonts/StringTable.h"
#include "menus/Credits.h"
#include "os/FileSystem.h"
#include "testing/TestPaths.h"
#include "tools/datatool/Locales.h"

namespace {

TEST(MenuStrings, EveryKeyTheMenusReadExists) {
    auto const pak0 = testing_support::binaryDir() / "pak0.pak";
    FileSystem fs;
    ASSERT_NE(fs.mount(pak0.string()), nullptr) << pak0 << " is missing: build the pak target";

    char const* const fixed[] = {"downloaderDownloadingNewContent",
                                 "downloaderPaused",
                                 "downloaderNoNetwork",
                                 "downloaderVerifyingContent",
                                 "downloaderFinished",
                                 "downloaderAskForCellularData",
                                 "downloaderNoDiskSpace",
                                 "popupAffirmative",
                                 "hardcoreUnlocked",
                                 "yesPopup",
                                 "noPopup",
                                 "gameCenterPopup"};
    for (auto locale : datatool::shippedLocales) {
        std::string const name(locale);
        auto file = fs.open("fonts/" + name + ".strings");
        Fonts::StringTable table;
        ASSERT_TRUE(table.read(file->data(), file->size())) << name;
        for (char const* key : fixed) EXPECT_TRUE(table.contains(key)) << name << " " << key;

        // The credits walk as the menu does it.
        int justNames = 0, rolesAndNames = 0, skipped = 0, swapPairs = 0;
        for (int n = 0; n < 1000; ++n) {
            std::string const number = std::to_string(n);
            if (!table.contains("credits_header_" + number)) {
                if (table.contains("credits_header_" + number + "_amazon_only")) {
                    ++skipped;
                    continue;
                }
                break;
            }
            if (table.contains("credits_just_names_" + number)) {
                ++justNames;
                continue;
            }
            ASSERT_TRUE(table.contains("credits_roles_" + number)) << name << " " << n;
            ASSERT_TRUE(table.contains("credits_names_" + number)) << name << " " << n;
            ++rolesAndNames;
            std::string const& names = table.get("credits_names_" + number);
            swapPairs += names.find(Credits::kSwapNames[0]) != std::string::npos &&
                         names.find(Credits::kSwapNames[1]) != std::string::npos;
        }
        EXPECT_GE(justNames, 1) << name;
        EXPECT_GE(rolesAndNames, 1) << name;
        EXPECT_GE(skipped, 1) << name;
        EXPECT_GE(swapPairs, 1) << name;
        // The list goes on past the skipped number: its last entry thanks the player.
        EXPECT_TRUE(table.contains("credits_header_5")) << name;
    }
}

}  // namespace
