// The main menu on real GL and the built data: the backdrop covering the screen, the screen's
// routing, music fade, notice and page table with recording platform fakes (shell, music, cloud
// sync), and the loader from the previous screen to the installed menu, with and without a video.
#include <gtest/gtest.h>

#include <glm/gtc/type_ptr.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "analytics/agent/Tally.h"
#include "graphics/GlFunctions.h"
#include "graphics/PostProcessingStep.h"
#include "level/LevelCatalog.h"
#include "menus/MainMenuLoaderViewController.h"
#include "menus/MainMenuViewController.h"
#include "menus/tests/MenuFixture.h"
#include "os/services/GameCenter.h"
#include "os/services/Music.h"
#include "os/services/ShellBridge.h"
#include "save/CloudSyncThread.h"
#include "save/RoamingDataFile.h"

namespace {

struct RecordingShell : ShellBridge {
    std::vector<std::string> calls;
    void playVideo(char const* path) override { calls.push_back(std::string("video ") + path); }
    void skipVideo() override { calls.push_back("skip"); }
    void showGameCenter() override { calls.push_back("boards"); }
    void showGameCenterForLevel(std::string const&) override {}
    void showGameCenterLoginIfNeeded() override { calls.push_back("login"); }
    void significantEvent(bool) override {}
    size_t count(std::string const& call) const { return size_t(std::count(calls.begin(), calls.end(), call)); }
};

// The screen the loader comes from: counts what reaches it and whether it still lives.
struct OldScreen : ViewController {
    int* alive;
    int updates = 0, draws = 0;
    explicit OldScreen(int* a) : alive(a) { ++*alive; }
    ~OldScreen() override { --*alive; }
    void drawOverlay(Graphics::Context*, Graphics::StandardShader*) override { ++draws; }
    void preDraw(Graphics::Context*) override {}
    void update(Audio::Context&, float, float) override { ++updates; }
    void touchMoved(glm::vec2 const&, uint32_t) override {}
    void touchBegan(glm::vec2 const&, uint32_t) override {}
    void touchEnded(glm::vec2 const&, uint32_t) override {}
    void buttonPressed(uint32_t) override {}
};

std::vector<std::string> musicPaths;
int drawnVertices = 0;

class MainMenu : public menus_test::MenuFixture {
protected:
    void SetUp() override {
        setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
        shell_services::setDownloadState(4);
        shell_services::setDownloadPausedReason(0);
        MenuFixture::SetUp();
        ShellBridge::set(&shell);
        musicPaths.clear();
        music_services::setFileOpener([](char const* path) {
            musicPaths.push_back(path);  // on the music queue; read after a runOnQueue
            return music_services::Bytes{};
        });
        Tally::reset();
    }
    void TearDown() override {
        ShellBridge::set(nullptr);
        music_services::runOnQueue([](platform::MusicPlayer*) {});
        music_services::setFileOpener(nullptr);
        MenuFixture::TearDown();
    }
    std::unique_ptr<MainMenuViewController> make() {
        auto menu = std::make_unique<MainMenuViewController>(graphics.get(), audio, fonts.get(), startLevel, &sync);
        EXPECT_TRUE(loadTextures());
        return menu;
    }
    // Updates of 10 ms until done (at most 5 s).
    template <class Done>
    void until(MainMenuViewController& menu, Done&& done) {
        for (int n = 0; n < 500 && !done(); ++n) menu.update(*audio, 10.0f, 0.0f);
    }
    void untilInteractive(MainMenuViewController& menu) {
        until(menu, [&] { return menu.startMenu().state() == 4; });
        ASSERT_EQ(menu.startMenu().state(), 4u);
    }
    size_t syncs() {
        size_t n = 0;
        for (int i = 0; i < 200 && (sync.isPending(1) || sync.queuedJobs()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        n = synced.load();
        return n;
    }

    testing_support::TempDir documents;
    RecordingShell shell;
    std::atomic<size_t> synced{0};
    CloudSyncThread sync{[this](CloudSyncThread::UniqueMessage kind) -> boost::optional<CloudSyncError> {
        synced += kind == 1;
        return boost::none;
    }};
    std::vector<std::string> started;
    MainMenuViewController::StartLevel startLevel = [this](std::string const& path, std::string const&, bool, bool,
                                                           bool) { started.push_back(path); };
};

TEST_F(MainMenu, BackgroundGridCoversTheScreenExactly) {
    MainMenuBackground background(graphics.get());
    auto const& v = background.vertices();
    ASSERT_EQ(v.size(), 860u);
    // The strip's corners land on the corners of the clip space, one logical pixel per unit.
    for (auto const& c : {v[0], v[40], v[818], v[859]}) {
        glm::vec4 const clip = background.projView() * glm::vec4(c.x, c.y, c.z, 1.0f);
        EXPECT_NEAR(std::abs(clip.x / clip.w), 1.0f, 1e-5f);
        EXPECT_NEAR(std::abs(clip.y / clip.w), 1.0f, 1e-5f);
        EXPECT_NEAR(c.u, clip.x > 0 ? 1.0f : 0.0f, 1e-6f);
        EXPECT_NEAR(c.v, clip.y > 0 ? 0.0f : 1.0f, 1e-6f);
    }
    EXPECT_NEAR(background.timeAt(666 * 3 + uint64_t(nowMs())), 3.0f, 0.01f);

    ASSERT_TRUE(loadTextures());
    static Graphics::GlFunctions counting;
    counting = Graphics::realGlFunctions();
    counting.drawArrays = [](GLenum mode, GLint first, GLsizei count) {
        drawnVertices += mode == GL_TRIANGLE_STRIP ? count : 0;
        Graphics::realGlFunctions().drawArrays(mode, first, count);
    };
    Graphics::ScopedGlFunctions seam(counting);
    // Magenta never occurs in the picture: any left after the draw is an uncovered pixel.
    auto uncovered = [&] {
        std::vector<uint8_t> const pixels = gl.readPixels();
        int n = 0;
        for (size_t i = 0; i < pixels.size(); i += 4) n += pixels[i] == 255 && pixels[i + 1] == 0 && pixels[i + 2] == 255;
        return n;
    };
    for (int i = 0; i < 3; ++i) {
        drawnVertices = 0;
        frame(glm::vec4(1, 0, 1, 1), [&] { background.draw(graphics.get()); });
        EXPECT_EQ(uncovered(), 0);
        EXPECT_EQ(drawnVertices, 860);
        EXPECT_TRUE(graphics->blendEnabled());
        EXPECT_EQ(graphics->enabledVertexAttribCount(), 2u);
        EXPECT_EQ(graphics->currentProgram(), background.program().glName());
        std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the shader moves the interior
    }
}

TEST_F(MainMenu, StartsMusicFadesInRoutesInputAndSwitchesPages) {
    auto menu = make();
    GamepadState a;
    a.buttonA = 1;
    menu->touchBegan(glm::vec2(640, 168), 1);  // nothing reaches a page before the first update
    menu->buttonPressed(ViewController::buttonPause);
    EXPECT_EQ(menu->currentMenu(), nullptr);
    EXPECT_TRUE(menu->isAtRootMenu());
    EXPECT_TRUE(menu->notice().isHidden());  // a fresh save has no notice

    menu->update(*audio, 10.0f, 0.0f);
    EXPECT_EQ(menu->currentMenu(), &menu->startMenu());
    EXPECT_EQ(menu->startMenu().state(), 1u);
    EXPECT_EQ(shell.count("login"), 1u);
    EXPECT_EQ(syncs(), 1u);
    EXPECT_FLOAT_EQ(audio->musicVolume(), 0.0f);
    music_services::runOnQueue([](platform::MusicPlayer*) {});
    ASSERT_EQ(musicPaths.size(), 1u);  // the deferred start reached the queue
    EXPECT_EQ(musicPaths[0].rfind("audio/music/Dravo_MusicTrack01", 0), 0u);
    EXPECT_EQ(musicPaths[0].substr(musicPaths[0].size() - 4), ".m4a");

    // 0 to 1 over 1000 ms of frame time, set every frame, done one frame after reaching 1.
    int frames = 1;
    for (; menu->musicVolume() < 1.0f && frames < 500; ++frames) {
        menu->update(*audio, 10.0f, 0.0f);
        EXPECT_FLOAT_EQ(audio->musicVolume(), menu->musicVolume());
    }
    EXPECT_NEAR(frames, 101, 1);  // float steps of 0.01 may need one more
    EXPECT_EQ(menu->musicFadeState(), 1u);
    menu->update(*audio, 10.0f, 0.0f);
    EXPECT_EQ(menu->musicFadeState(), 2u);
    EXPECT_EQ(shell.count("login"), size_t(frames + 1));
    untilInteractive(*menu);

    // Play: the start page closes, then the level select is current; its back leads home.
    menu->gamepadInput(a);
    menu->gamepadInput(GamepadState{});
    until(*menu, [&] { return menu->currentMenu() != &menu->startMenu(); });
    EXPECT_EQ(menu->currentMenu(), &menu->levelSelect());
    EXPECT_FALSE(menu->isAtRootMenu());
    frame(glm::vec4(0.0f), [&] { menu->preDraw(graphics.get()), menu->drawOverlay(graphics.get(), shader.get()); });
    until(*menu, [&] { return menu->levelSelect().state() == 5; });
    ASSERT_EQ(menu->levelSelect().state(), 5u);
    menu->buttonPressed(ViewController::buttonPause);  // back, through the page
    until(*menu, [&] { return menu->currentMenu() == &menu->startMenu(); });
    EXPECT_EQ(menu->currentMenu(), &menu->startMenu());
    EXPECT_TRUE(menu->isAtRootMenu());
    EXPECT_EQ(syncs(), 2u);

    // Options by the table, back by the pause code; then values outside it only clear the root.
    menu->transit(MainMenuStartMenu::Options);
    EXPECT_EQ(menu->currentMenu(), &menu->options());
    until(*menu, [&] { return menu->options().state() == OptionsMenu::Active; });
    menu->buttonPressed(ViewController::buttonPause);
    until(*menu, [&] { return menu->currentMenu() == &menu->startMenu(); });
    EXPECT_TRUE(menu->isAtRootMenu() && menu->currentMenu() == &menu->startMenu());
    EXPECT_EQ(syncs(), 3u);

    // Leaderboards: the platform's boards; their close leads home, and a second visit waits for
    // the boards again.
    for (size_t visit = 1; visit <= 2; ++visit) {
        menu->transit(MainMenuStartMenu::Leaderboards);
        EXPECT_EQ(menu->currentMenu(), &menu->leaderboards());
        EXPECT_EQ(shell.count("boards"), visit);
        for (int n = 0; n < 5; ++n) menu->update(*audio, 10.0f, 0.0f);
        EXPECT_EQ(menu->currentMenu(), &menu->leaderboards());
        auto close = std::move(game_center::closeCallback());
        game_center::closeCallback() = nullptr;
        ASSERT_TRUE(close);
        close(true);
        until(*menu, [&] { return menu->currentMenu() == &menu->startMenu(); });
        EXPECT_TRUE(menu->isAtRootMenu());
    }
    menu->transit(MainMenuStartMenu::Credits);
    EXPECT_EQ(menu->currentMenu(), &menu->credits());
    menu->transit(MainMenuStartMenu::Choice(9));
    EXPECT_FALSE(menu->isAtRootMenu());
    EXPECT_EQ(menu->currentMenu(), &menu->credits());
    EXPECT_EQ(menu->downloadOverlay(), nullptr);  // the second archive is mounted
    EXPECT_TRUE(started.empty());
}

TEST_F(MainMenu, NoticeThenADownloadBoxThenTheMenuTakeInput) {
    // Out of disk space while downloading: the bar's box comes once the notice has gone.
    shell_services::setDownloadState(1);
    shell_services::setDownloadPausedReason(2);
    BackgroundDownloaderOverlay::resetRunFlags();
    RoamingDataFile("roamingData").data.levelEntry(uint32_t(LevelCatalog::count() - 1)).best() = 100;
    auto menu = make();
    ASSERT_NE(menu->downloadOverlay(), nullptr);
    EXPECT_EQ(RoamingDataFile("roamingData").data.noticeFlags() & 1u, 1u);  // written before it is seen
    EXPECT_TRUE(menu->notice().isActive());
    menu->update(*audio, 10.0f, 0.0f);
    until(*menu, [&] { return menu->notice().state() == ConfirmationBox::kInteractive; });
    untilInteractive(*menu);
    ASSERT_EQ(menu->notice().state(), ConfirmationBox::kInteractive);

    // A tap on play and the controller's A reach the notice, not the start page.
    menu->touchBegan(glm::vec2(640, 168), 1);
    menu->touchEnded(glm::vec2(640, 168), 1);
    GamepadState down;
    down.dpadY = -1.0f;
    menu->gamepadInput(down);
    menu->update(*audio, 10.0f, 0.0f);
    EXPECT_EQ(menu->startMenu().state(), 4u);
    EXPECT_EQ(menu->startMenu().focus().focused(), 2u);
    EXPECT_FALSE(menu->downloadOverlay()->noDiskSpaceBox().isActive());
    menu->buttonPressed(ViewController::buttonPause);  // the notice's only answer
    until(*menu, [&] { return menu->downloadOverlay()->isBlockingInput(); });
    EXPECT_TRUE(menu->notice().isHidden());
    until(*menu, [&] { return menu->downloadOverlay()->noDiskSpaceBox().state() == ConfirmationBox::kInteractive; });
    menu->gamepadInput(GamepadState{});
    menu->gamepadInput(down);
    EXPECT_EQ(menu->startMenu().focus().focused(), 2u);
    menu->buttonPressed(ViewController::buttonPause);  // now the box's
    until(*menu, [&] { return !menu->downloadOverlay()->isBlockingInput(); });
    EXPECT_EQ(menu->startMenu().state(), 4u);
    menu->gamepadInput(GamepadState{});
    menu->gamepadInput(down);
    EXPECT_EQ(menu->startMenu().focus().focused(), 3u);  // credits: no hardcore before the download

    menu.reset();
    EXPECT_TRUE(make()->notice().isHidden());  // once per save record
}

class MainMenuLoader : public MainMenu {
protected:
    void SetUp() override {
        MainMenu::SetUp();
        post = std::make_unique<PostProcessingStep>(graphics.get(), glm::ivec2(320, 180), glm::ivec2(320, 180), true);
    }
    // The loader is owned here and the install callback deletes it at once, as an app frame
    // without deferred deletion would.
    void run(boost::optional<std::string> const& video) {
        alive = 0;
        auto old = std::make_unique<OldScreen>(&alive);
        oldScreen = old.get();
        owner = std::make_unique<MainMenuLoaderViewController>(
            graphics.get(), audio, std::move(old), post.get(), fonts.get(),
            [this](std::unique_ptr<ViewController>&& screen) {
                texturesAtInstall = graphics->texturesLoaded();
                owner = std::move(screen);
            },
            startLevel, &sync, video);
        loader = static_cast<MainMenuLoaderViewController*>(owner.get());
        oldFrames = 0;
    }
    // One 16 ms frame as the app frame runs it; false once the loader is gone.
    bool tick() {
        owner->update(*audio, 16.0f, 0.0f);
        if (owner.get() != loader) return false;
        post->update(16.0f);
        post->updateColors();
        graphics->updateTextures();
        // Decoding runs on other threads.
        if (loader->state() == 3) std::this_thread::sleep_for(std::chrono::microseconds(500));
        owner->preDraw(graphics.get());
        owner->drawOverlay(graphics.get(), shader.get());
        return true;
    }

    std::unique_ptr<PostProcessingStep> post;
    std::unique_ptr<ViewController> owner;
    MainMenuLoaderViewController* loader = nullptr;
    OldScreen* oldScreen = nullptr;
    int alive = 0, oldFrames = 0;
    bool texturesAtInstall = false;
};

TEST_F(MainMenuLoader, FadesOutBuildsWaitsForTexturesAndInstallsAsItsLastAct) {
    run(boost::none);
    int frames = 0;
    while (alive && frames < 500) {
        ASSERT_TRUE(tick());
        ++frames;
        if (alive) {
            EXPECT_EQ(oldScreen->updates, frames);
        }
    }
    EXPECT_NEAR(frames * 16, 1000, 48);  // the fade to black
    EXPECT_EQ(loader->state(), 3u);
    EXPECT_TRUE(graphics->burstLoading());
    auto* menu = dynamic_cast<MainMenuViewController*>(loader->heldScreen());
    ASSERT_NE(menu, nullptr);
    EXPECT_FALSE(menu->started());  // not updated by the loader
    while (frames < 2000 && tick()) ++frames;
    ASSERT_EQ(owner.get(), menu);
    EXPECT_TRUE(texturesAtInstall);
    EXPECT_FALSE(graphics->burstLoading());
    EXPECT_TRUE(post->isColorFading());  // fading back in
    EXPECT_TRUE(shell.calls.empty());    // no video asked for, no skip
    EXPECT_TRUE(Tally::events().empty());
}

TEST_F(MainMenuLoader, VideoIsLoggedPlayedSkippedByAAndEndsInTheMenu) {
    run(std::string("videos/intro.mp4"));
    GamepadState a;
    a.buttonA = 1;
    owner->gamepadInput(a);  // before the video: only the platform's skip
    int frames = 0;
    while (loader->state() < 2 && frames < 500) {
        ASSERT_TRUE(tick());
        ++frames;
    }
    EXPECT_EQ(loader->state(), 2u);
    EXPECT_EQ(alive, 0);
    ASSERT_EQ(shell.calls, (std::vector<std::string>{"skip", "video videos/intro.mp4"}));
    ASSERT_EQ(Tally::events().size(), 1u);
    EXPECT_EQ(Tally::events()[0].name, "PLAYED_VIDEO_WITH_PATH: videos/intro.mp4");
    for (int n = 0; n < 100; ++n) ASSERT_TRUE(tick());  // textures long loaded: the video holds it
    EXPECT_EQ(loader->state(), 2u);
    owner->gamepadInput(a);
    EXPECT_EQ(shell.count("skip"), 2u);
    auto done = std::move(shell_services::videoDoneCallback());  // the shell ends the video
    shell_services::videoDoneCallback() = nullptr;
    ASSERT_TRUE(done);
    done();
    EXPECT_EQ(loader->state(), 3u);
    while (frames < 2000 && tick()) ++frames;
    EXPECT_NE(dynamic_cast<MainMenuViewController*>(owner.get()), nullptr);

    // A loader gone while its video plays ignores the end that arrives later.
    run(std::string("videos/intro.mp4"));
    while (loader->state() < 2 && frames < 6000) {
        ASSERT_TRUE(tick());
        ++frames;
    }
    owner.reset();
    done = std::move(shell_services::videoDoneCallback());
    shell_services::videoDoneCallback() = nullptr;
    ASSERT_TRUE(done);
    done();
}

}  // namespace
