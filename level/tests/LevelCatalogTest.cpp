#include <gtest/gtest.h>

#include <boost/optional/optional_io.hpp>

#include <set>

#include "level/LevelCatalog.h"

namespace {

using LevelCatalog::entry;

TEST(LevelCatalog, CountsAndPositionsWithinAMode) {
    EXPECT_EQ(LevelCatalog::count(), 24u);
    EXPECT_EQ(LevelCatalog::countOfMode(GameMode::Normal), 20u);
    EXPECT_EQ(LevelCatalog::countOfMode(GameMode::TimeAttack), 2u);
    EXPECT_EQ(LevelCatalog::countOfMode(GameMode::CollectTime), 2u);
    EXPECT_EQ(LevelCatalog::countOfMode(GameMode::Hardcore), 0u);
    EXPECT_EQ(LevelCatalog::indexInMode(3, GameMode::Normal), 3);
    EXPECT_EQ(LevelCatalog::indexInMode(5, GameMode::Normal), 4);
    EXPECT_EQ(LevelCatalog::indexInMode(14, GameMode::TimeAttack), 1);
    EXPECT_EQ(LevelCatalog::indexInMode(0, GameMode::TimeAttack), -1);
    EXPECT_EQ(LevelCatalog::indexInMode(-7, GameMode::Normal), -7);
    EXPECT_EQ(LevelCatalog::indexInMode(23, GameMode::Normal), 19);
    // An index past the table (a level number typed into a URL) counts the whole table.
    EXPECT_EQ(LevelCatalog::indexInMode(1000, GameMode::CollectTime), 1);
}

TEST(LevelCatalog, Finds) {
    EXPECT_EQ(LevelCatalog::findByPath("levels/bonus03.pxl"), boost::optional<size_t>(14));
    EXPECT_EQ(LevelCatalog::findByPath("levels/level01.pxl"), boost::optional<size_t>(0));
    EXPECT_FALSE(LevelCatalog::findByPath("levels/level21.pxl"));
    EXPECT_FALSE(LevelCatalog::findByPath("levels/level01.pxl "));
    EXPECT_EQ(LevelCatalog::findByIntroPath("levels/level20_intro.pxl"), boost::optional<size_t>(23));
    EXPECT_EQ(LevelCatalog::findByIntroPath(""), boost::optional<size_t>(1));
    EXPECT_FALSE(LevelCatalog::findByIntroPath("levels/level02_intro.pxl"));
}

TEST(LevelCatalog, LinksFormThePlayOrderAndTheBonusPairs) {
    // next walks the 20 main levels in order and returns to the first after the last.
    std::vector<uint64_t> walk{0};
    while (walk.size() < 25 && entry(walk.back()).next != 0) walk.push_back(entry(walk.back()).next);
    ASSERT_EQ(walk.size(), 20u);
    std::set<uint64_t> seen(walk.begin(), walk.end());
    EXPECT_EQ(seen.size(), 20u);
    for (size_t i = 0; i < walk.size(); ++i) {
        auto const& e = entry(walk[i]);
        EXPECT_EQ(e.mode, GameMode::Normal);
        EXPECT_EQ(e.buttonLabel, int8_t(i + 1));
        EXPECT_EQ(e.starsToUnlock, 0u);
        if (i) {
            EXPECT_EQ(e.previous, walk[i - 1]);
            EXPECT_LE(entry(walk[i - 1]).act, e.act);
        }
    }
    EXPECT_EQ(entry(0).previous, 0u);
    for (uint64_t i = 0; i < LevelCatalog::count(); ++i) {
        auto const& e = entry(i);
        EXPECT_EQ(e.bonusLink, e.bonusLink2);
        EXPECT_EQ(entry(e.bonusLink).bonusLink, i) << "bonus links pair up, index " << i;
        EXPECT_EQ(LevelCatalog::findByPath(e.path), boost::optional<size_t>(i));
        EXPECT_EQ(e.offersTutorial, i == 0 ? 1 : 0);
        if (e.mode != GameMode::Normal) {
            // A bonus level closes its act and links to the act's first level.
            EXPECT_EQ(e.next, i);
            EXPECT_EQ(e.previous, i);
            EXPECT_EQ(entry(e.bonusLink).act, e.act);
            EXPECT_GE(e.buttonLabel, 'A');
            EXPECT_GT(e.starsToUnlock, 0u);
        }
    }
}

}  // namespace
