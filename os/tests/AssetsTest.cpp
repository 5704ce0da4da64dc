#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "os/Assets.h"

namespace {

TEST(Assets, TablesHoldDistinctPaths) {
    EXPECT_EQ(Assets::textures[0], TextureDescriptor());
    std::set<std::string> paths;
    for (size_t i = 1; i < Assets::textureCount; ++i) {
        auto const& t = Assets::textures[i];
        EXPECT_TRUE(paths.insert(t.path).second) << t.path;
        EXPECT_EQ(t.path.rfind("art/", 0), 0u) << t.path;
    }
    for (auto const& s : Assets::sounds) EXPECT_TRUE(paths.insert(s.path).second) << s.path;
    EXPECT_EQ(paths.size(), Assets::textureCount - 1 + Assets::soundCount);
}

TEST(Assets, LookupsFallBackToTheFirstImage) {
    std::string const dir = "art/menus/levelselect/";
    std::pair<int32_t, char const*> const labels[] = {{1, "1"},  {0, "1"},   {21, "1"},  {-1, "1"}, {2, "2"},
                                                      {20, "20"}, {65, "A"}, {'D', "D"}, {'E', "1"}};
    for (auto [value, name] : labels)
        EXPECT_EQ(Assets::levelButtonTextTexture(value).path, dir + "Buttontext_" + name + ".png") << value;
    std::pair<int32_t, char const*> const acts[] = {{'1', "01"}, {'5', "05"}, {'6', "01"}, {'0', "01"}, {3, "01"}};
    for (auto [value, name] : acts)
        EXPECT_EQ(Assets::actMapTexture(value).path, dir + "actmap" + name + ".png") << value;
}

TEST(Assets, ThirtyOuchSoundsEachOnceThenAgain) {
    std::vector<std::string> first;
    for (int i = 0; i < 30; ++i) first.push_back(Assets::nextOuchSound().path);
    EXPECT_EQ(std::set<std::string>(first.begin(), first.end()).size(), 30u);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(first[i].rfind("audio/character/ouch", 0), 0u);
        // Consecutive calls walk the numbers upward, wrapping from 30 to 1.
        int a = std::stoi(first[i].substr(20, 3)), b = std::stoi(first[(i + 1) % 30].substr(20, 3));
        EXPECT_EQ(b, a % 30 + 1);
        EXPECT_EQ(Assets::nextOuchSound().path, first[i]);
    }
}

}  // namespace
