// A level's flow through the app frame with the real loader, game, pause and end-of-level screens
// on real contexts, a frame clock the test steps and a scratch save: the opening cut-scene
// keeps the level's sounds silent through the loader's fade-in, a pause never freezes the end of
// a level, and a sample level draws its goal and check point posts in their colours.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "game/EndOfLevelViewController.h"
#include "game/GameViewController.h"
#include "game/IntroGameModeStateMachine.h"
#include "game/PauseViewController.h"
#include "menus/LevelLoaderViewController.h"
#include "menus/tests/MenuFixture.h"
#include "menus/tests/RealContextsImpl.h"
#include "os/services/Music.h"
#include "save/CloudSyncThread.h"
#include "tools/datatool/LevelBuilder.h"

namespace {

struct QuietSync : ::CloudSyncThread {
    QuietSync() : ::CloudSyncThread([](UniqueMessage) { return boost::none; }) {}
};

struct FlowImpl : menus_test::RealContextsImpl {
    using LevelLoaderViewController = ::LevelLoaderViewController<GameViewController>;
    using EndOfLevelViewController = ::EndOfLevelViewController;
    using PauseViewController = ::PauseViewController;
    using TriggerVariant = ::TriggerVariant;
    using CloudSyncThread = QuietSync;
    // Without the intro the app starts at the main menu, which is not built here.
    static inline bool withIntro = true;
    static bool fileExists(std::string const& path) {
        return (withIntro || path.find("intro") == std::string::npos) && Singleton<FileSystem>::instance().exists(path);
    }
};
using App = os::AbstractApp<FlowImpl>;

// Flat ground; with a goal, one where the player stands.
PristineLevel::Data flatLevel(bool goalAtStart) {
    levels::LevelBuilder b;
    b.ground({{-50.0f, 0.0f}, {50.0f, 0.0f}}, -10.0f, glm::vec4(1.0f));
    b.checkPoint({0.0f, 0.4f});
    if (goalAtStart) b.goal({0.0f, 1.0f}, {1.0f, 2.0f});
    return b.data();
}

class LevelFlow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(gl.ok());
        ASSERT_TRUE(menus_test::mountData());
        setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
        platform_services::setScreenSizes(1280, 720, menus_test::kWidth, menus_test::kHeight);
        shell_services::setControllerPresent(false);
        gl.bindTarget();
        app = App::create();
    }
    void TearDown() override {
        app.reset();
        FlowImpl::withIntro = true;
        stopMusic();
        music_services::runOnQueue([](platform::MusicPlayer*) {});
    }
    void tick() { FlowImpl::clock += 16, app->tick(); }
    // Ticks until done() (at most n frames), giving the decoder threads real time while
    // textures are outstanding.
    template <class Done>
    bool until(Done&& done, int n = 3000) {
        for (int i = 0; i < n; ++i) {
            if (done()) return true;
            if (!app->renderContexts()->graphics.texturesLoaded())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            tick();
        }
        return done();
    }
    // A game screen wired to the app frame as the loader's start wires it, made current.
    GameViewController* play(PristineLevel::Data level, std::string const& path = "levels/level02.pxl") {
        App& a = *app;
        auto& rc = *a.renderContexts();
        std::string const name = "levelName";
        auto game = std::make_unique<GameViewController>(
            &rc.graphics, &a.audio(), &rc.fonts, &a.events(), path, name, &rc.postProcessing,
            [&a](TriggerVariant const& r, std::string const& p, std::string const& n) {
                a.transitToEndOfLevel(r, p, n, false, false);
            },
            [&a](std::string const& p, std::string const& n) { a.triggerPauseMenu(p, n, false, false); },
            [&a](ConfirmationBox::Parameters const& q) { a.showConfirmationBox(q); }, false, a.startLevelCallback(),
            std::move(level), true, [&a](boost::optional<std::string> const& v) { a.transitToMainMenu(v); }, false);
        GameViewController* raw = game.get();
        app->installViewController(std::move(game));
        return raw;
    }
    EndOfLevelViewController* endScreen() { return dynamic_cast<EndOfLevelViewController*>(app->screen()); }
    // A sample level from the archive, playing.
    GameViewController* playSample(std::string const& path) {
        FlowImpl::withIntro = false;
        app->init(0, nullptr);
        PristineLevel::Data level;
        LevelLoading::readLevel(path, level);
        GameViewController* game = play(std::move(level), path);
        EXPECT_TRUE(until([&] { return app->renderContexts()->graphics.texturesLoaded(); }, 600));
        return game;
    }
    // The drawn colour at a world point, once the view has come to rest with the player placed
    // beside it (the view's target is 1.5 m under the player).
    uint32_t drawnAt(GameViewController& game, glm::vec2 point, glm::vec2 player) {
        game.getWorld().getPlayer().resetTo(player);
        game.getWorld().getCamera().setPosition(player - glm::vec2(0.0f, 1.5f));
        for (int i = 0; i < 60; ++i) tick();
        glm::vec2 const p = game.getWorld().getCamera().worldToScreen(glm::vec3(point, 0.0f));
        return gl.pixel(int(p.x * menus_test::kWidth / 1280.0f), int(p.y * menus_test::kHeight / 720.0f));
    }

    testing_support::TempDir documents;
    testing_support::GlTestContext gl{menus_test::kWidth, menus_test::kHeight};
    std::unique_ptr<App> app;
};

// The start of the app plays levels/intro.pxl through the loader. Its mode silences the level's
// sounds in the update the loader runs before the fade-in, and they stay silent through the
// loader's fade-in and the whole cut-scene until its fade to black is over.
TEST_F(LevelFlow, TheOpeningCutSceneKeepsTheLevelSoundsSilentThroughTheLoader) {
    app->init(0, nullptr);
    ASSERT_NE(dynamic_cast<FlowImpl::LevelLoaderViewController*>(app->screen()), nullptr);
    GameViewController* game = nullptr;
    float loudest = 0.0f;
    auto intro = [&] { return game ? dynamic_cast<IntroGameModeStateMachine*>(&game->modeMachine()) : nullptr; };
    ASSERT_TRUE(until([&] {
        if (auto* loader = dynamic_cast<FlowImpl::LevelLoaderViewController*>(app->screen()))
            game = dynamic_cast<GameViewController*>(loader->heldScreen());
        if (intro() && intro()->state() != IntroGameModeStateMachine::kStart)
            loudest = std::max(loudest, app->audio().categoryVolume(0));
        return app->screen() == game && game != nullptr;
    }));
    ASSERT_NE(intro(), nullptr);
    // Two seconds into the cut-scene, then skipped: the fade to black takes 400 ms.
    for (int i = 0; i < 125; ++i) {
        tick();
        loudest = std::max(loudest, app->audio().categoryVolume(0));
    }
    EXPECT_EQ(intro()->state(), IntroGameModeStateMachine::kPlaying);
    app->buttonPressed(GameViewController::pauseButtonCode);
    ASSERT_TRUE(until([&] {
        if (intro()->state() < IntroGameModeStateMachine::kFinished)
            loudest = std::max(loudest, app->audio().categoryVolume(0));
        return intro()->state() == IntroGameModeStateMachine::kFinished;
    }, 100));
    EXPECT_EQ(loudest, 0.0f);
    // Then they are back, and the next loader's fade-in works as ever.
    EXPECT_EQ(app->audio().categoryVolume(0), 1.0f);
    app->audio().setCategoryVolume(0, 0.0f);
    app->audio().setCategoryFadeRate(0, 0.001f);
    tick();
    EXPECT_GT(app->audio().categoryVolume(0), 0.0f);
}

// A goal touched in the last frame queues the level's end; a pause asked before the next frame
// does not start, and the results board finishes. A pause screen that the end of a level
// replaces while it opens gives texture requests back, so the board finishes then too; and
// the world does not step under an opening pause screen.
TEST_F(LevelFlow, APauseNeverFreezesTheEndOfALevel) {
    FlowImpl::withIntro = false;
    app->init(0, nullptr);
    GameViewController* game = play(flatLevel(true));
    ASSERT_TRUE(until([&] { return app->events().isQueued(GameViewController::levelEndSignal); }, 200));
    app->buttonPressed(GameViewController::pauseButtonCode);
    EXPECT_EQ(app->screen(), game);
    bool paused = false;
    ASSERT_TRUE(until([&] {
        paused = paused || dynamic_cast<PauseViewController*>(app->screen()) != nullptr;
        return endScreen() && endScreen()->state() == 3;
    })) << "the results board does not finish";
    EXPECT_FALSE(paused);

    // A fresh app (none of the board's art loaded): pause, and the end of the level comes while
    // the pause screen opens.
    app.reset();
    app = App::create();
    app->init(0, nullptr);
    game = play(flatLevel(false));
    for (int i = 0; i < 30; ++i) tick();
    float const before = game->getWorld().getTime();
    app->buttonPressed(GameViewController::pauseButtonCode);
    auto* pause = dynamic_cast<PauseViewController*>(app->screen());
    ASSERT_NE(pause, nullptr);
    tick();
    EXPECT_EQ(game->getWorld().getTime(), before);
    EXPECT_LT(pause->state(), PauseViewController::kWaitingForArt);
    app->events().trigger(GameViewController::levelEndSignal);
    ASSERT_TRUE(until([&] { return endScreen() && endScreen()->state() == 3; }))
        << "the results board does not finish";
    EXPECT_FALSE(app->renderContexts()->graphics.suspendTextureRequests());
}

// A sample level as drawn: its check point's post light grey from the ground up, its goal a
// translucent gold over the sky (premultiplied, as the blending takes it).
TEST_F(LevelFlow, ASampleLevelDrawsItsPostOnTheGroundAndItsGoalTranslucentGold) {
    GameViewController* game = playSample("levels/level02.pxl");
    PristineLevel::Data level;
    LevelLoading::readLevel("levels/level02.pxl", level);
    auto rgb = [](glm::vec4 c) { return testing_support::rgba(uint8_t(c.r * 255 + 0.5f), uint8_t(c.g * 255 + 0.5f), uint8_t(c.b * 255 + 0.5f)); };
    glm::vec2 const foot = level.checkPoints.at(1).respawnPosition - glm::vec2(0.0f, levels::restHeight);
    for (float up : {0.1f, 1.5f})
        EXPECT_TRUE(menus_test::near(drawnAt(*game, foot + glm::vec2(0, up), foot - glm::vec2(2.5f, -2)), rgb(levels::checkPointColour), 4)) << up;
    // The goal's quad, found by its colour; its top stands against the sky.
    glm::vec4 const gold = levels::goalColour, premultiplied(glm::vec3(gold) * gold.a, gold.a);
    auto const& set = level.meshSet;
    auto const goal = std::find_if(set.nodes.begin(), set.nodes.end(), [&](PristineLevel::MeshNode const& n) {
        return n.kind == PristineLevel::MeshNode::arrayEntry && set.arrayMeshes[n.index].color == premultiplied;
    });
    ASSERT_NE(goal, set.nodes.end());
    glm::vec2 const top(goal->box.max.x - 0.5f, goal->box.max.y - 0.5f), player(goal->box.min.x - 3.0f, top.y);
    uint32_t const sky = drawnAt(*game, top + glm::vec2(2.0f, 0.0f), player), drawn = drawnAt(*game, top, player);
    glm::vec4 const behind(float(sky & 0xff) / 255, float(sky >> 8 & 0xff) / 255, float(sky >> 16 & 0xff) / 255, 1);
    EXPECT_TRUE(menus_test::near(drawn, rgb(premultiplied + behind * (1.0f - gold.a)), 4)) << std::hex << drawn;
}

}  // namespace
