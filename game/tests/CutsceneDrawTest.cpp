// The cut-scene's and the tutorial's overlays drawn on a real GL target with the archive's art
// and fonts: the skip button and the subtitle box show, the fade ends black, and the tutorial's
// boxes come and go with its steps.
#include <GLES2/gl2.h>

#include "game/CutsceneServices.h"
#include "game/GameViewController.h"
#include "game/IntroGameModeStateMachine.h"
#include "menus/tests/MenuFixture.h"
#include "save/RoamingDataFile.h"
#include "tools/datatool/LevelBuilder.h"

namespace {

class CutsceneDraw : public menus_test::MenuFixture {
protected:
    void SetUp() override {
        MenuFixture::SetUp();
        setenv("ZELV_DOCUMENTS_DIR", documents.path().c_str(), 1);
        RoamingDataFile file("roamingData");
        file.data.setSubtitlesEnabled(true);
        file.data.setControlScheme(0);
        cutsceneServices().nowMs = [] { return int64_t(1500); };  // the first subtitle, two lines
        cutsceneServices().musicStartMs = [] { return int64_t(0); };
        cutsceneServices().syncMusic = [](uint64_t, uint64_t) {};
        cutsceneServices().logEvent = [](char const*) {};
    }
    void TearDown() override {
        cutsceneServices() = CutsceneServices::platform();
        MenuFixture::TearDown();
    }
    // The opening cut-scene, or level01 with its tutorial, ready to draw after 30 frames.
    std::unique_ptr<GameViewController> screen(bool tutorial) {
        levels::LevelBuilder b;
        b.ground({{-50.0f, 0.0f}, {50.0f, 0.0f}}, -10.0f, glm::vec4(1.0f));
        b.checkPoint({0.0f, 0.4f});
        PristineLevel::Data level = b.data();
        level.metaData.tutorial = tutorial ? 1 : 0;
        level.metaData.mode = tutorial ? level.metaData.mode : GameMode::Intro;
        level.metaData.introSoundtrack = "music/intro";
        level.metaData.introEndTime = 12000.0f;
        auto game = std::make_unique<GameViewController>(
            graphics.get(), audio, fonts.get(), &events, tutorial ? "levels/level01.pxl" : "levels/intro.pxl", "",
            nullptr, [](TriggerVariant const&, std::string const&, std::string const&) {},
            [](std::string const&, std::string const&) {}, [](ConfirmationBox::Parameters const&) {}, false,
            [](std::string const&, std::string const&, bool, bool, bool) {}, std::move(level), !tutorial,
            [this](boost::optional<std::string> const&) { ++mainMenus; }, false);
        EXPECT_TRUE(loadTextures());
        frames(*game, 30);
        return game;
    }
    void frames(GameViewController& game, int n) {
        for (int i = 0; i < n; ++i) events.dispatch(), game.update(*audio, 16.0f, now += 16.0f);
    }
    // White behind the overlay, so that its dark boxes show.
    template <class Draw>
    void drawOnWhite(Draw&& draw) {
        frame(glm::vec4(1.0f), draw);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
    bool white(float x, float y) { return menus_test::near(at(x, y), 0xffffffffu, 8); }

    testing_support::TempDir documents;
    EventHandler events;
    float now = 1000.0f;
    int mainMenus = 0;
};

TEST_F(CutsceneDraw, SkipButtonSubtitleBoxFadeAndTutorialBoxes) {
    auto game = screen(false);
    auto& intro = dynamic_cast<IntroGameModeStateMachine&>(game->modeMachine());
    ASSERT_EQ(intro.subtitleLineCount(), 2u);
    auto drawIntro = [&] { intro.drawOverlay(graphics.get(), shader.get(), screenProjection()); };
    frames(*game, 40);  // the skip button fully in
    drawOnWhite(drawIntro);
    EXPECT_FALSE(white(1180.0f, 650.0f));  // the skip button
    EXPECT_FALSE(white(400.0f, 61.0f));    // the subtitle box
    EXPECT_TRUE(white(640.0f, 360.0f));
    intro.skipButton().activate();
    frames(*game, 40);
    EXPECT_EQ(mainMenus, 1);
    drawOnWhite(drawIntro);
    EXPECT_TRUE(menus_test::near(at(640.0f, 360.0f), at(20.0f, 20.0f)));
    EXPECT_FALSE(white(640.0f, 360.0f));
    game.reset();

    game = screen(true);
    TutorialOverlay& t = *game->tutorial();
    auto drawTutorial = [&] { t.draw(graphics.get(), shader.get()); };
    drawOnWhite(drawTutorial);
    EXPECT_FALSE(white(255.0f, 360.0f));  // the press boxes, clear of the window's sides
    EXPECT_FALSE(white(1280.0f - 255.0f, 360.0f));
    for (float x : {2.0f, 14.0f, 1280.0f - 14.0f, 1280.0f - 2.0f}) EXPECT_TRUE(white(x, 360.0f)) << x;
    events.trigger(TutorialOverlay::signalBridgeHintOn);
    frames(*game, 30);
    ASSERT_EQ(t.step(), 9u);
    drawOnWhite(drawTutorial);
    EXPECT_FALSE(white(1280.0f - 260.0f, 390.0f));  // the lesson box
    EXPECT_TRUE(white(1280.0f - 14.0f, 390.0f));
    EXPECT_TRUE(white(255.0f, 300.0f));
    events.trigger(TutorialOverlay::signalFinish);
    frames(*game, 30);
    drawOnWhite(drawTutorial);
    EXPECT_TRUE(white(1280.0f - 260.0f, 390.0f));
}

}  // namespace
