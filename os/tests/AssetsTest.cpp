#include <gtest/gtest.h>

#include <map>
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
    // Every image that is not sampled pixel-exact and clamped: a slip here blurs or tiles art.
    std::string const buttons = "art/menus/buttons/", tutorial = "art/tutorial/", hud = "art/hud/",
                      downloader = "art/menus/backgrounddownloader/";
    std::map<std::string, TextureOptions> const special{
        {"art/character/Body.png", Assets::smoothClamp},
        {"art/character/Eye.png", Assets::smoothClamp},
        {"art/character/Eyebig.png", Assets::smoothClamp},
        {"art/character/Eyeblinkright.png", Assets::smoothClamp},
        {"art/character/Eyeblinkleft.png", Assets::smoothClamp},
        {"art/character/Brows.png", Assets::smoothClamp},
        {"art/effects/water/watersplash.png", Assets::smoothClamp},
        {"art/effects/gold/goldsprite.png", Assets::smoothClamp},
        {"art/effects/gold/goldgradient.png", Assets::smoothClamp},
        {hud + "hud_button_pause.png", Assets::smoothClamp},
        {hud + "hud_button_leftright.png", Assets::smoothClamp},
        {hud + "hud_button_leftright_ipad.png", Assets::smoothClamp},
        {hud + "hud_button_expand.png", Assets::smoothClamp},
        {hud + "hud_button_expand_ipad.png", Assets::smoothClamp},
        {hud + "hud_button_pounce.png", Assets::smoothClamp},
        {hud + "hud_button_pounce_ipad.png", Assets::smoothClamp},
        {hud + "touchslider_indicator.png", Assets::smoothClamp},
        {tutorial + "thumb.png", Assets::smoothClamp},
        {tutorial + "sliding_thumb.png", Assets::smoothClamp},
        {tutorial + "swiping_thumb.png", Assets::smoothClamp},
        {tutorial + "thumb_hitcircle.png", Assets::smoothClamp},
        {tutorial + "thumb_hitcircle_highlighted.png", Assets::smoothClamp},
        {tutorial + "textbackground.png", Assets::smoothClamp},
        {"art/cutscenes/overlay/skip.png", Assets::smoothClamp},
        {"art/cutscenes/overlay/skip_highlighted.png", Assets::smoothClamp},
        {"art/cutscenes/overlay/textbackground.png", Assets::smoothClamp},
        {"art/secret/cog.png", Assets::smoothClamp},
        {"art/menus/effects/loadingcircle.png", Assets::smoothClamp},
        {buttons + "Pilleft_normal.png", Assets::smoothClamp},
        {buttons + "Pilleft_lit.png", Assets::smoothClamp},
        {buttons + "exit_button_normal.png", Assets::smoothClamp},
        {buttons + "exit_button_lit.png", Assets::smoothClamp},
        {tutorial + "line.png", Assets::smoothRepeatT},
        {hud + "touchslider_background.png", Assets::pixelRepeatS},
        {hud + "touchslider_background_mid.png", Assets::pixelRepeatS},
        {hud + "touchslider_indicator_stop.png", Assets::pixelRepeatS},
        {downloader + "blackbar_back.png", Assets::pixelRepeatS},
        {downloader + "greenbar.png", Assets::pixelRepeatS},
        {downloader + "glass_top.png", Assets::pixelRepeatS},
        {downloader + "holder_left.png", Assets::pixelRepeatS},
    };
    size_t specialSeen = 0;
    for (size_t i = 1; i < Assets::textureCount; ++i) {
        auto const& t = Assets::textures[i];
        auto it = special.find(t.path);
        specialSeen += it != special.end();
        EXPECT_EQ(t.options, it != special.end() ? it->second : Assets::pixelClamp) << t.path;
    }
    EXPECT_EQ(specialSeen, special.size());

    EXPECT_EQ(Assets::soundCount, 59u);
    std::set<std::string> sounds;
    for (auto const& s : Assets::sounds) EXPECT_TRUE(sounds.insert(s.path).second) << s.path;
    // Presets by path: looping, positional and category decide how a sound is heard at all.
    auto presetOf = [](std::string const& path) -> SoundParams const& {
        if (path.rfind("audio/character/ouch", 0) == 0) return Assets::effectSound;
        static std::map<std::string, SoundParams const*> const presets{
            {"audio/Dravo_Menu_CogWheelLoadingLoop.wav", &Assets::menuLoop},
            {"audio/Dravo_BonusGame_CountDown.wav", &Assets::effectSound},
            {"audio/Dravo_BonusGame_CameraShutter.wav", &Assets::effectSound},
            {"audio/character/Dravo_Jump.wav", &Assets::positionalSound},
            {"audio/character/Dravo_Land.wav", &Assets::positionalSound},
            {"audio/character/Dravo_Inflate.wav", &Assets::positionalSound},
            {"audio/character/Dravo_Hover.wav", &Assets::positionalLoop},
            {"audio/character/Dravo_CharacterSlideLoop.wav", &Assets::positionalLoop},
            {"audio/character/Dravo_underwater.wav", &Assets::effectLoop},
            {"audio/character/Dravo_CaracterDeath.wav", &Assets::effectSound},
            {"audio/character/hardcorecomplete.wav", &Assets::effectSound},
            {"audio/water/Dravo_WaterSplash01.wav", &Assets::positionalSound},
            {"audio/water/Dravo_WaterSplash02.wav", &Assets::positionalSound},
            {"audio/water/Dravo_WaterSplash03.wav", &Assets::positionalSound},
            {"audio/Level20/Dravo_LavaLoop.wav", &Assets::lavaLoop},
            {"audio/cog/achievement.wav", &Assets::effectSound},
        };
        auto it = presets.find(path);
        return it != presets.end() ? *it->second : Assets::menuSound;
    };
    for (auto const& s : Assets::sounds) EXPECT_EQ(s.params, presetOf(s.path)) << s.path;
    EXPECT_EQ(Assets::menuSound.category, 1);
    EXPECT_TRUE(Assets::positionalLoop.isLooping());
    EXPECT_FALSE(Assets::positionalLoop.isListenerRelative());
    EXPECT_EQ(Assets::positionalLoop.gain, 0.0f);
    EXPECT_NEAR(Assets::positionalSound.position.z, 15.058824f * 0.5f, 1e-5f);
    EXPECT_EQ(Assets::lavaLoop.referenceFactor, 0.8f);
    EXPECT_EQ(Assets::lavaLoop.maxFactor, 1.7f);
    EXPECT_EQ(Assets::sounds[0].path, "audio/Dravo_Menu_ButtonGeneral.wav");
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
