// The game screen on builder levels, run the way the app frame runs it (dispatch, then update),
// without GL: routing, holds, pause requests, scheme swaps, control layers and the end of a level.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "audio/tests/LoopbackDevice.h"
#include "game/GameViewController.h"
#include "game/HardcoreGameModeStateMachine.h"
#include "game/OnScreenControlScheme.h"
#include "game/TouchAndSwipeControlScheme.h"
#include "level/LevelCatalog.h"
#include "level/LevelReader.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/services/GameCenter.h"
#include "os/services/PlatformServices.h"
#include "os/services/ShellServices.h"
#include "save/RoamingDataFile.h"
#include "testing/TestPaths.h"
#include "tools/datatool/LevelBuilder.h"

namespace {

// The documents folder (save record, game services) is the test's own.
testing_support::TempDir& documents() {
    static testing_support::TempDir dir;
    return dir;
}

void setSavedScheme(uint8_t scheme) {
    RoamingDataFile file("roamingData");
    file.data.setControlScheme(scheme);
}

// Flat ground and two coins; with goals, two where the player stands, both touched at once.
PristineLevel::Data flatLevel(bool goalAtStart = false) {
    levels::LevelBuilder b;
    b.ground({{-50.0f, 0.0f}, {50.0f, 0.0f}}, -10.0f, glm::vec4(1.0f));
    b.checkPoint({0.0f, 0.4f});
    for (float x : {0.0f, 0.2f}) {
        if (goalAtStart) b.goal({x, 1.0f}, {1.0f, 2.0f});
    }
    b.coin({10.0f, 5.0f});
    b.coin({12.0f, 5.0f});
    return b.data();
}

struct Screen {
    EventHandler events;
    audio_test::LoopbackContext audio;
    std::vector<TriggerVariant> results;
    std::vector<std::string> pauses;
    std::vector<std::string> started;
    std::unique_ptr<GameViewController> game;
    float now = 1000.0f;

    Screen(PristineLevel::Data level, std::string const& path = "levels/test.pxl", bool hardcore = false) {
        game = std::make_unique<GameViewController>(
            nullptr, &audio.context, nullptr, &events, path, "testName", nullptr,
            [this](TriggerVariant const& r, std::string const&, std::string const&) { results.push_back(r); },
            [this](std::string const& p, std::string const&) { pauses.push_back(p); },
            [](ConfirmationBox::Parameters const&) {}, false,
            [this](std::string const& p, std::string const& n, bool r, bool s, bool h) {
                started.push_back(p + " " + n + (r ? " restart" : "") + (s ? " skip" : "") + (h ? " hardcore" : ""));
            },
            std::move(level), true, [](boost::optional<std::string> const&) {}, hardcore);
    }
    void frames(int n = 1, float dt = 1000.0f / 60.0f) {
        for (int i = 0; i < n; ++i, now += dt) {
            events.dispatch();
            game->update(audio.context, dt, now + dt);
        }
    }
};

class GameScreen : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("ZELV_DOCUMENTS_DIR", documents().path().c_str(), 1);
        platform_services::setScreenSizes(1280.0f, 720.0f, 1334.0f, 750.0f);
        auto const pak = testing_support::binaryDir() / "pak0.pak";
        Singleton<FileSystem>::instance().mount(pak.string());
    }
    void SetUp() override {
        shell_services::setControllerPresent(false);
        setSavedScheme(0);
    }
};

TEST_F(GameScreen, InputHoldsPauseAndControls) {
    Screen s(flatLevel());
    GameViewController& g = *s.game;
    // The control layers of touch-and-swipe are published at the first dispatch.
    std::multiset<uint32_t> layers;
    std::vector<SlotCallbackRef> heard;
    for (uint32_t id : {20000010u, 20000011u, 20000012u, 20000013u, 20000025u, 20000026u})
        heard.emplace_back(&s.events, id, [&layers, id] { layers.insert(id); });
    s.frames();
    EXPECT_EQ(layers, (std::multiset<uint32_t>{20000011, 20000012, 20000026}));
    ASSERT_NE(dynamic_cast<TouchAndSwipeControlScheme*>(g.getControlScheme()), nullptr);
    s.frames(30);  // settle on the ground

    // A controller at rest leaves the touch scheme in charge; a pushed pad takes over for a frame.
    ControlSchemeInputState const& heardInput = g.getWorld().getPlayer().getInput();
    g.getControlScheme()->inputState().right = 1;
    g.gamepadInput(GamepadState{});
    s.frames(20);
    EXPECT_EQ(heardInput.right, 1);
    GamepadState left;
    left.dpadX = -1.0f;
    g.gamepadInput(left);
    s.frames();
    EXPECT_EQ(heardInput.left, 1);
    s.frames();
    EXPECT_EQ(heardInput.right, 1);
    g.getControlScheme()->inputState().right = 0;

    // Held time stays out of the world's clock.
    float const before = g.getWorld().getTime();
    s.events.trigger(20000002);
    s.frames(10, 20.0f);
    EXPECT_TRUE(g.isPaused());
    EXPECT_FLOAT_EQ(g.getWorld().getTime(), before);
    s.events.trigger(20000003);
    s.frames(2, 20.0f);
    EXPECT_FALSE(g.isPaused());
    // Signals are dispatched before the frame's update: ten frames held, two played.
    EXPECT_FLOAT_EQ(g.pausedTime(), 200.0f);
    EXPECT_FLOAT_EQ(g.getWorld().getTime(), before + 40.0f);

    // The pause area is strict, and a touch that leaves it does not pause.
    Rect const r = g.pauseButtonRect();
    glm::vec2 const inside((r.minX + r.maxX) / 2, (r.minY + r.maxY) / 2), border(r.minX, inside.y);
    auto touch = [&g](glm::vec2 from, glm::vec2 via, glm::vec2 to) {
        g.touchBegan(from, 1);
        g.touchMoved(via, 1);
        g.touchEnded(to, 1);
    };
    touch(border, border, border);
    touch(inside, {r.maxX + 5, inside.y}, inside);
    EXPECT_TRUE(s.pauses.empty());
    touch(inside, inside, inside);
    g.buttonPressed(GameViewController::pauseButtonCode);
    EXPECT_EQ(s.pauses.size(), 2u);
    // No pause while the player is dead.
    g.getWorld().getPlayer().kill();
    g.buttonPressed(GameViewController::pauseButtonCode);
    touch(inside, inside, inside);
    EXPECT_EQ(s.pauses.size(), 2u);

    // 20000027 and 20000028 fade the pause button out and back in over 400 ms.
    auto raise = [&s](uint32_t id, int frames, float dt) {
        s.events.trigger(id);
        s.frames(frames, dt);
    };
    EXPECT_EQ(g.hud().pauseAlpha(), 1.0f);
    raise(20000027, 21, 20.0f);
    EXPECT_EQ(g.hud().pauseAlpha(), 0.0f);
    raise(20000028, 21, 20.0f);
    EXPECT_EQ(g.hud().pauseAlpha(), 1.0f);

    // A changed setting: the new scheme waits for the controls' 400 ms fade-out. A second change
    // before the swap replaces the pending one.
    setSavedScheme(1);
    raise(20000005, 1, 100.0f);
    ASSERT_NE(g.pendingControlScheme(), nullptr);
    setSavedScheme(0);
    raise(20000005, 1, 100.0f);
    setSavedScheme(1);
    raise(20000005, 2, 90.0f);
    EXPECT_NE(dynamic_cast<TouchAndSwipeControlScheme*>(g.getControlScheme()), nullptr);
    s.frames(2, 20.0f);
    EXPECT_NE(dynamic_cast<OnScreenControlScheme*>(g.getControlScheme()), nullptr);
    EXPECT_EQ(g.pendingControlScheme(), nullptr);
    EXPECT_EQ(g.controlSchemeChoice(), 1);

    // A saved byte no version wrote gives the buttons.
    setSavedScheme(7);
    EXPECT_EQ(GameViewController::savedControlSchemeChoice(), 7);
    EXPECT_NE(dynamic_cast<OnScreenControlScheme*>(makeControlScheme(7, nullptr).get()), nullptr);
    // With a controller present the choice is 0 and the controller layers are published.
    shell_services::setControllerPresent(true);
    EXPECT_EQ(GameViewController::savedControlSchemeChoice(), 0);
    layers.clear();
    g.publishControlLayers();
    s.frames();
    EXPECT_EQ(layers, (std::multiset<uint32_t>{20000010, 20000013, 20000026}));
}

TEST_F(GameScreen, EndOfLevelActsOncePerScreen) {
    // Two goals touched at once: one result, alternative 0, outside the catalog.
    Screen s(flatLevel(true));
    s.frames(40);
    ASSERT_EQ(s.results.size(), 1u);
    ASSERT_EQ(s.results[0].which(), 0);
    auto const& n = boost::get<ResultsMenu::NormalGameModeTriggerParameters>(s.results[0]);
    EXPECT_EQ(std::tuple(n.coinsCollected, n.coinTotal, n.deaths, n.levelIndex),
              std::tuple(uint64_t{0}, uint64_t{2}, uint64_t{0}, LevelCatalog::count()));
    EXPECT_GT(n.levelTime, 0.0f);
    s.events.trigger(20000000);
    s.frames();
    EXPECT_EQ(s.results.size(), 1u);

    // The world's own end (a hardcore death) closes the same latch.
    Screen w(flatLevel());
    w.game->worldEndOfLevelCallback()(TriggerVariant(ResultsMenu::HardcoreFailedGameModeTriggerParameters(1, 2, 20)),
                                       "levels/test.pxl", "");
    w.events.trigger(20000000);
    w.frames();
    ASSERT_EQ(w.results.size(), 1u);
    EXPECT_EQ(w.results[0].which(), 4);
}

// The level's closing shot (started by 20000014) takes the controls off the screen: they fade out
// over 400 ms while the shot pans away, and stay out.
TEST_F(GameScreen, TheClosingShotFadesTheControlsOut) {
    Screen s(flatLevel());
    GameViewController& g = *s.game;
    s.frames(10, 20.0f);
    EXPECT_EQ(g.hud().controlsAlpha(), 1.0f);
    s.events.trigger(20000014);
    s.frames(1, 20.0f);
    EXPECT_EQ(g.getWorld().getCamera().sequenceState(), 2u);
    s.frames(24, 20.0f);  // 400 ms and a little more
    EXPECT_TRUE(g.hud().isFadedOut()) << g.hud().controlsAlpha();
    s.frames(100, 20.0f);
    EXPECT_TRUE(g.hud().isFadedOut());
    EXPECT_EQ(g.getWorld().getCamera().sequenceState(), 2u);
}

TEST_F(GameScreen, HardcoreChainsNormalLevelsAndEndsTheRun) {
    auto const board = *leaderboardId(1338);
    auto const achievement = *achievementId(37);
    // Level 0 starts a run: the run total goes back to 0 and the next level starts at once.
    HardcoreGameModeStateMachine::addRunTime(5000.0f);
    {
        Screen s(flatLevel(), LevelCatalog::entry(0).path, true);
        EXPECT_EQ(s.game->mode(), GameMode::Hardcore);
        EXPECT_EQ(HardcoreGameModeStateMachine::runTime(), 0.0f);
        s.frames(30);
        s.events.trigger(20000000);
        s.events.trigger(20000000);
        s.frames();
        EXPECT_TRUE(s.results.empty());
        EXPECT_EQ(s.started, (std::vector<std::string>{LevelCatalog::entry(1).path + " level02Name skip hardcore"}));
        EXPECT_FLOAT_EQ(HardcoreGameModeStateMachine::runTime(), 30 * 1000.0f / 60.0f);
        EXPECT_EQ(game_center::services().score(board), 1);
        EXPECT_DOUBLE_EQ(game_center::services().achievementPercent(achievement), 5.0);
    }
    // A later level keeps the total; a death in the goal's frame ends the run as a failed one and
    // nothing else; the level before a bonus level chains past it.
    float const total = HardcoreGameModeStateMachine::runTime();
    for (bool dead : {true, false}) {
        Screen s(flatLevel(), "levels/level04.pxl", true);
        EXPECT_EQ(HardcoreGameModeStateMachine::runTime(), total);
        if (dead) s.game->getWorld().getPlayer().kill();
        s.events.trigger(20000000);
        s.frames();
        EXPECT_EQ(s.started, dead ? std::vector<std::string>{}
                                  : std::vector<std::string>{"levels/level05.pxl level05Name skip hardcore"});
        EXPECT_TRUE(s.game->levelEnded());
        ASSERT_EQ(s.results.size(), dead ? 1u : 0u);
        if (dead) {
            EXPECT_EQ(s.results[0].which(), 4);
        }
    }
    EXPECT_EQ(game_center::services().score(board), 4);
    // The last level, and a level outside the catalog, end the run with its whole time.
    for (std::string const& path : {LevelCatalog::entry(LevelCatalog::count() - 1).path, std::string("levels/x.pxl")}) {
        float const runBefore = HardcoreGameModeStateMachine::runTime();
        Screen s(flatLevel(), path, true);
        s.frames(3);
        s.events.trigger(20000000);
        s.frames();
        EXPECT_TRUE(s.started.empty()) << path;
        ASSERT_EQ(s.results.size(), 1u) << path;
        ASSERT_EQ(s.results[0].which(), 3) << path;
        EXPECT_FLOAT_EQ(boost::get<ResultsMenu::HardcoreGameModeTriggerParameters>(s.results[0]).runTime,
                        runBefore + 3 * 1000.0f / 60.0f);
    }
    // Outside the catalog a death ends no run (the player respawns), so a goal the dying player
    // reaches still ends the level with the run's time.
    Screen s(flatLevel(), "levels/x.pxl", true);
    s.game->getWorld().getPlayer().kill();
    s.frames();
    ASSERT_FALSE(s.game->getWorld().getPlayer().isAlive());
    s.events.trigger(20000000);
    s.frames();
    ASSERT_EQ(s.results.size(), 1u);
    EXPECT_EQ(s.results[0].which(), 3);
}

// A fall out of any sample level is a fatality: dropped below its ground, the player dies once,
// the death counts, and it respawns at its check point.
TEST_F(GameScreen, AFallOutOfASampleLevelCountsAsADeath) {
    std::vector<std::string> paths = {"levels/sampler.pxl"};
    for (uint64_t i = 0; i < LevelCatalog::count(); ++i)
        if (LevelCatalog::entry(i).mode == GameMode::Normal) paths.push_back(LevelCatalog::entry(i).path);
    for (std::string const& path : paths) {
        std::shared_ptr<File> file = Singleton<FileSystem>::instance().open(path);
        ASSERT_TRUE(file && file->size() > 0) << path;
        PristineLevel::Data level;
        PristineLevel::loadPristineLevel(level, file->data(), size_t(file->size()));
        glm::vec2 const start = level.checkPoints.at(0).respawnPosition;
        Screen s(std::move(level), path);
        s.frames();
        Player::Player& player = s.game->getWorld().getPlayer();
        // Below the ground: nothing but the drop.
        player.resetTo(start + glm::vec2(20.0f, -12.0f));
        for (int i = 0; i < 240 && player.isAlive(); ++i) s.frames();
        EXPECT_FALSE(player.isAlive()) << path << " at " << player.getPosition().y;
        EXPECT_EQ(player.getDeathCount(), 1u) << path;
        for (int i = 0; i < 240 && !player.isAlive(); ++i) s.frames();
        EXPECT_LT(glm::distance(player.getPosition(), start), 1.0f) << path;
    }
}

}  // namespace
