#include <gtest/gtest.h>

#include <set>

#include "os/Assets.h"

namespace {

TEST(Assets, TablesHoldDistinctPathsWithTheirOptions) {
    EXPECT_EQ(Assets::textureCount, 164u);
    EXPECT_EQ(Assets::textures[0], TextureDescriptor());
    std::set<std::string> paths;
    for (size_t i = 1; i < Assets::textureCount; ++i) {
        auto const& t = Assets::textures[i];
        EXPECT_TRUE(paths.insert(t.path).second) << t.path;
        EXPECT_EQ(t.path.rfind("art/", 0), 0u) << t.path;
        bool lateLoad = t.path == "art/effects/water/watersplash.png" || t.path == "art/effects/gold/goldgradient.png";
        EXPECT_EQ(t.flags, lateLoad ? 2 : 3) << t.path;
    }
    EXPECT_EQ(Assets::texCharacterBody.options, Assets::smoothClamp);
    EXPECT_EQ(Assets::texTutorialLine.options, Assets::smoothRepeatT);
    EXPECT_EQ(Assets::texHudTouchsliderBackgroundMid.options, Assets::pixelRepeatS);
    EXPECT_EQ(Assets::texMenusButtonsPilleftLit.options, Assets::smoothClamp);
    EXPECT_EQ(Assets::texMenusButtonsPlayLit.options, Assets::pixelClamp);

    EXPECT_EQ(Assets::soundCount, 59u);
    std::set<std::string> sounds;
    for (auto const& s : Assets::sounds) EXPECT_TRUE(sounds.insert(s.path).second) << s.path;
    EXPECT_EQ(Assets::sndDravoMenuButtonGeneral.params.category, 1);
    EXPECT_TRUE(Assets::sndCharacterDravoHover.params.isLooping());
    EXPECT_FALSE(Assets::sndCharacterDravoHover.params.isListenerRelative());
    EXPECT_NEAR(Assets::sndCharacterDravoJump.params.position.z, 15.058824f * 0.5f, 1e-5f);
    EXPECT_EQ(Assets::sndLevel20DravoLavaLoop.params.referenceFactor, 0.8f);
    EXPECT_EQ(Assets::sounds[Assets::soundCount - 1].path, "audio/cog/achievement.wav");
    EXPECT_EQ(std::size(Assets::hitAreas), 15u);
}

TEST(Assets, Lookups) {
    auto label = [](int32_t v) { return Assets::levelButtonTextTexture(v).path; };
    std::string const dir = "art/menus/levelselect/";
    EXPECT_EQ(label(1), dir + "Buttontext_1.png");
    EXPECT_EQ(label(0), dir + "Buttontext_1.png");
    EXPECT_EQ(label(21), dir + "Buttontext_1.png");
    EXPECT_EQ(label(-1), dir + "Buttontext_1.png");
    EXPECT_EQ(label(2), dir + "Buttontext_2.png");
    EXPECT_EQ(label(20), dir + "Buttontext_20.png");
    EXPECT_EQ(label(65), dir + "Buttontext_A.png");
    EXPECT_EQ(label('D'), dir + "Buttontext_D.png");
    EXPECT_EQ(label('E'), dir + "Buttontext_1.png");

    auto act = [](int32_t v) { return Assets::actMapTexture(v).path; };
    EXPECT_EQ(act('1'), dir + "actmap01.png");
    EXPECT_EQ(act('5'), dir + "actmap05.png");
    EXPECT_EQ(act('6'), dir + "actmap01.png");
    EXPECT_EQ(act('0'), dir + "actmap01.png");
    EXPECT_EQ(act(3), dir + "actmap01.png");
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
