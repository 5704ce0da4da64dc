// The first level's tutorial inside the game screen: the lessons in order, driven by touches on
// the thumbs, the player's input and the level's signals; the analytics events; the one-time
// controls popup; and nothing more once it is finished.
#include "game/TutorialOverlay.h"
#include "game/tests/CutsceneFixture.h"
#include "world/Player.h"

namespace {

using namespace cutscene_test;

PristineLevel::Data tutorialLevel() {
    PristineLevel::Data d = flatLevel();
    d.metaData.tutorial = 1;
    return d;
}

glm::vec2 centre(Button const& b) {
    Rect const& r = b.hitRect();
    return glm::vec2(r.minX + r.maxX, r.minY + r.maxY) * 0.5f;
}

GamepadState pad(float x, bool jump) {
    GamepadState p;
    p.dpadX = x;
    p.buttonA = jump ? 1 : 0;
    return p;
}

TEST_F(CutsceneTest, TutorialLessonsFollowTouchesAndSignals) {
    // Skipped, or in a level without the flag, there is none.
    EXPECT_EQ(Screen(tutorialLevel(), "levels/level01.pxl", true).game->tutorial(), nullptr);
    EXPECT_EQ(Screen(flatLevel(), "levels/level01.pxl", false).game->tutorial(), nullptr);
    log.clear();

    Screen s(tutorialLevel(), "levels/level01.pxl", false);
    TutorialOverlay& t = *s.game->tutorial();
    Player::Player& player = s.game->getWorld().getPlayer();
    glm::vec2 const leftThumb = centre(t.leftThumb()), rightThumb = centre(t.rightThumb());
    // Each thumb's area lies on its own half of the screen.
    EXPECT_LT(leftThumb.x, 640.0f);
    EXPECT_GE(rightThumb.x, 640.0f);
    EXPECT_EQ(log, std::vector<std::string>{"TUTORIAL_WAIT_UNTIL_BOTH_BUTTONS_PRESSED"});
    // Touches do nothing before the touch-and-swipe layer starts it.
    EXPECT_FALSE(t.touchBegan(leftThumb, 1));
    s.frame();
    ASSERT_TRUE(t.isActive());
    EXPECT_EQ(t.step(), 0u);

    // Both thumbs for just over a second; lifting one restarts the count.
    s.game->touchBegan(leftThumb, 1);
    s.game->touchBegan(rightThumb, 2);
    s.frames(40);
    s.game->touchEnded(rightThumb, 2);
    s.frame();
    s.game->touchBegan(rightThumb, 2);
    s.frames(55);
    EXPECT_EQ(t.step(), 0u);
    s.frames(10);
    EXPECT_EQ(t.step(), 1u);
    // Step 1 waits for the fade-out and for both thumbs to lift; the player stays blocked.
    s.frames(40);
    EXPECT_EQ(t.overlayAlpha(), 0.0f);
    EXPECT_EQ(t.step(), 1u);
    s.game->touchEnded(leftThumb, 1);
    s.game->touchEnded(rightThumb, 2);
    s.frame();
    EXPECT_EQ(t.step(), 2u);
    EXPECT_EQ(log.back(), "TUTORIAL_LEFT_THUMB_MOVEMENT");
    // From now on the thumbs take no touch.
    EXPECT_FALSE(t.touchBegan(leftThumb, 3));

    // 2.5 s of moving; stopping restarts the count.
    for (int i = 0; i < 100; ++i) s.game->gamepadInput(pad(1.0f, false)), s.frame();
    s.frame();
    for (int i = 0; i < 140; ++i) s.game->gamepadInput(pad(-1.0f, false)), s.frame();
    EXPECT_EQ(t.step(), 2u);
    for (int i = 0; i < 20; ++i) s.game->gamepadInput(pad(-1.0f, false)), s.frame();
    EXPECT_EQ(t.step(), 3u);

    // The jump lesson waits for its zone.
    s.frames(90);
    EXPECT_EQ(t.step(), 3u);
    s.events.trigger(TutorialOverlay::signalJumpLessonOn);
    s.frame();
    EXPECT_EQ(t.step(), 4u);
    EXPECT_EQ(log.back(), "TUTORIAL_RIGHT_THUMB_JUMP");
    // Held jump counts once; three presses end the lesson.
    for (int i = 0; i < 20; ++i) s.game->gamepadInput(pad(0.0f, true)), s.frame();
    EXPECT_EQ(t.jumpCount(), 1u);
    for (int jump = 0; jump < 2; ++jump) {
        s.frames(60);
        for (int i = 0; i < 3; ++i) s.game->gamepadInput(pad(0.0f, true)), s.frame();
    }
    EXPECT_EQ(t.jumpCount(), 3u);
    ASSERT_TRUE(s.until([&] { return t.step() == 5u; }, 60));
    // Four seconds on, the overlay fades and the camera is let go.
    s.frames(239);
    EXPECT_EQ(t.step(), 5u);
    ASSERT_TRUE(s.until([&] { return t.step() == 7u; }, 40));
    EXPECT_EQ(t.overlayAlpha(), 0.0f);

    s.events.trigger(TutorialOverlay::signalDiveLessonOn);
    s.frame();
    EXPECT_EQ(t.step(), 8u);
    EXPECT_EQ(log.back(), "TUTORIAL_DIVING_LESSON");
    EXPECT_EQ(t.fadeDirection(), 1.0f);
    s.events.trigger(TutorialOverlay::signalDiveLessonOff);
    s.frame();
    EXPECT_EQ(t.fadeDirection(), -1.0f);

    // The bridge hint, even leaving its zone first, switches to step 9 and logs once.
    s.events.trigger(TutorialOverlay::signalBridgeHintOff);
    s.events.trigger(TutorialOverlay::signalBridgeHintOn);
    s.frame();
    EXPECT_EQ(t.step(), 9u);
    EXPECT_EQ(t.fadeDirection(), 1.0f);
    // It loops: fade in, slide up, hold, fade out.
    std::vector<uint32_t> phases;
    for (int i = 0; i < 400; ++i) {
        s.frame();
        if (phases.empty() || phases.back() != t.bridgePhase()) phases.push_back(t.bridgePhase());
    }
    EXPECT_EQ(phases, (std::vector<uint32_t>{0, 1, 2, 3, 0, 1, 2, 3}));
    EXPECT_EQ(log, (std::vector<std::string>{"TUTORIAL_WAIT_UNTIL_BOTH_BUTTONS_PRESSED", "TUTORIAL_LEFT_THUMB_MOVEMENT",
                                             "TUTORIAL_RIGHT_THUMB_JUMP", "TUTORIAL_DIVING_LESSON",
                                             "TUTORIAL_MECHANICAL_BRIDGE"}));

    // Finished for good: the player is free and later signals change nothing.
    s.events.trigger(TutorialOverlay::signalFinish);
    s.frame();
    EXPECT_TRUE(t.isFinished());
    EXPECT_FALSE(t.isActive());
    for (uint32_t id : {TutorialOverlay::signalStart, TutorialOverlay::signalJumpLessonOff,
                        TutorialOverlay::signalDiveLessonOn, TutorialOverlay::signalBridgeHintOff}) {
        s.events.trigger(id);
    }
    s.frames(200);
    EXPECT_FALSE(t.isActive());
    EXPECT_EQ(t.step(), 9u);
    EXPECT_EQ(t.overlayAlpha(), 0.0f);
    EXPECT_EQ(log.size(), 5u);
    EXPECT_TRUE(s.popups.empty());
    float const x = player.getPosition().x;
    for (int i = 0; i < 60; ++i) s.game->gamepadInput(pad(1.0f, false)), s.frame();
    EXPECT_GT(player.getPosition().x, x + 0.5f);
}

TEST_F(CutsceneTest, ControlsPopupComesOnceAt50SecondsWhileAlive) {
    Screen s(tutorialLevel(), "levels/level01.pxl", false);
    TutorialOverlay& t = *s.game->tutorial();
    s.frame();
    ASSERT_TRUE(t.isActive());
    // 49.95 s of active time: nothing yet. Then the player dies just before the minute mark.
    s.frames(2997);
    EXPECT_TRUE(s.popups.empty());
    Player::Player& player = s.game->getWorld().getPlayer();
    player.kill();
    int dead = 0;
    for (; !player.isAlive() && dead < 100; ++dead) {
        s.frame();
        EXPECT_TRUE(s.popups.empty() || player.isAlive());
    }
    EXPECT_GT(t.buttonsHintTime(), TutorialOverlay::buttonsHintDelayMs);
    EXPECT_GE(dead, 3);
    ASSERT_TRUE(s.until([&] { return !s.popups.empty(); }, 5));
    EXPECT_TRUE(player.isAlive());
    EXPECT_EQ(s.popups[0].message, "Use the buttons at the bottom of the screen to move and jump.");
    EXPECT_EQ(s.popups[0].affirmative, "OK");
    // The popup holds play; its answer resumes it.
    s.frame();
    EXPECT_TRUE(s.game->isPaused());
    s.popups[0].onAffirmative();
    s.frame();
    EXPECT_FALSE(s.game->isPaused());
    s.frames(3100);
    EXPECT_EQ(s.popups.size(), 1u);

    // Cancelled by its signal, it never comes; a missing string shows the stand-in text.
    Screen cancelled(tutorialLevel(), "levels/level01.pxl", false);
    cancelled.events.trigger(TutorialOverlay::signalCancelButtonsHint);
    cancelled.frames(3100);
    EXPECT_TRUE(cancelled.popups.empty());
    Screen unknown(tutorialLevel(), "levels/level01.pxl", false, "xx_XX");
    unknown.frames(3001);
    ASSERT_EQ(unknown.popups.size(), 1u);
    EXPECT_EQ(unknown.popups[0].message, "String not found");
}

}  // namespace
