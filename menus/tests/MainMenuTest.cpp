// The main menu on real GL and the built data: the backdrop covering the screen; the screen's
// music fade, page table, notice and input routing with recording platform fakes (shell, music,
// cloud sync); the loader from the previous screen to the installed menu, with and without a video.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "analytics/agent/Tally.h"
#include "graphics/PostProcessingStep.h"
#include "level/LevelCatalog.h"
#include "menus/MainMenuLoaderViewController.h"
#include "menus/MainMenuViewController.h"
#include "menus/tests/MenuFixture.h"
#include "os/DummyViewController.h"
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

std::vector<std::string> musicPaths;

class MainMenu : public menus_test::MenuFixture {
protected:
    void SetUp() override {
        setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
        shell_services::setDownloadState(4);
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
    size_t syncs() {
        for (int i = 0; i < 200 && (sync.isPending(1) || sync.queuedJobs()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return synced.load();
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
    // The strip's corners land on the corners of the clip space, the picture upright.
    for (auto const& c : {v[0], v[40], v[818], v[859]}) {
        glm::vec4 const clip = background.projView() * glm::vec4(c.x, c.y, c.z, 1.0f);
        EXPECT_NEAR(std::abs(clip.x / clip.w), 1.0f, 1e-5f);
        EXPECT_NEAR(std::abs(clip.y / clip.w), 1.0f, 1e-5f);
        EXPECT_NEAR(c.u, clip.x > 0 ? 1.0f : 0.0f, 1e-6f);
        EXPECT_NEAR(c.v, clip.y > 0 ? 0.0f : 1.0f, 1e-6f);
    }
    ASSERT_TRUE(loadTextures());
    for (int i = 0; i < 2; ++i) {
        // Magenta never occurs in the picture: any left after the draw is an uncovered pixel.
        frame(glm::vec4(1, 0, 1, 1), [&] { background.draw(graphics.get()); });
        std::vector<uint8_t> const pixels = gl.readPixels();
        int uncovered = 0;
        for (size_t p = 0; p < pixels.size(); p += 4)
            uncovered += pixels[p] == 255 && pixels[p + 1] == 0 && pixels[p + 2] == 255;
        EXPECT_EQ(uncovered, 0);
        // Through the context's state cache, left as the next draw expects it.
        EXPECT_TRUE(graphics->blendEnabled());
        EXPECT_EQ(graphics->currentProgram(), background.program().glName());
        std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the shader moves the interior
    }
}

TEST_F(MainMenu, MusicFadePageTableAndCloudSync) {
    auto menu = make();
    menu->buttonPressed(ViewController::buttonPause);  // nothing reaches a page before the first update
    EXPECT_EQ(menu->currentMenu(), nullptr);
    EXPECT_TRUE(menu->notice().isHidden());         // a fresh save has no notice
    EXPECT_EQ(menu->downloadOverlay(), nullptr);    // the second archive is mounted

    menu->update(*audio, 10.0f, 0.0f);
    EXPECT_EQ(menu->currentMenu(), &menu->startMenu());
    EXPECT_EQ(syncs(), 1u);
    EXPECT_FLOAT_EQ(audio->musicVolume(), 0.0f);
    music_services::runOnQueue([](platform::MusicPlayer*) {});
    EXPECT_EQ(musicPaths, std::vector<std::string>{"audio/music/Dravo_MusicTrack01.m4a"});  // the deferred start

    // 0 to 1 over 1000 ms of frame time, set every frame; the sign-in asked at every update.
    int frames = 1;
    for (; menu->musicVolume() < 1.0f && frames < 500; ++frames) {
        menu->update(*audio, 10.0f, 0.0f);
        EXPECT_FLOAT_EQ(audio->musicVolume(), menu->musicVolume());
    }
    EXPECT_NEAR(frames, 101, 1);  // float steps of 0.01 may need one more
    EXPECT_EQ(shell.count("login"), size_t(frames));

    // Play on the start page: the level select; its back leads home with a sync.
    until(*menu, [&] { return menu->startMenu().state() == 4; });
    GamepadState a;
    a.buttonA = 1;
    menu->gamepadInput(a);
    menu->gamepadInput(GamepadState{});
    until(*menu, [&] { return menu->currentMenu() == &menu->levelSelect() && menu->levelSelect().state() == 5; });
    ASSERT_EQ(menu->currentMenu(), &menu->levelSelect());
    EXPECT_FALSE(menu->isAtRootMenu());
    frame(glm::vec4(0.0f), [&] { menu->preDraw(graphics.get()), menu->drawOverlay(graphics.get(), shader.get()); });
    menu->buttonPressed(ViewController::buttonPause);
    until(*menu, [&] { return menu->currentMenu() == &menu->startMenu(); });
    EXPECT_TRUE(menu->isAtRootMenu());
    EXPECT_EQ(syncs(), 2u);

    // The rest of the table; a value outside it only clears the root.
    for (auto [choice, page] : {std::pair<int, Menu*>{MainMenuStartMenu::Options, &menu->options()},
                                {MainMenuStartMenu::Credits, &menu->credits()},
                                {9, &menu->credits()}}) {
        menu->transit(MainMenuStartMenu::Choice(choice));
        EXPECT_EQ(menu->currentMenu(), page) << choice;
        EXPECT_FALSE(menu->isAtRootMenu());
    }
    // The boards through the platform, twice: their close leads home each time.
    for (size_t visit = 1; visit <= 2; ++visit) {
        menu->transit(MainMenuStartMenu::Leaderboards);
        EXPECT_EQ(shell.count("boards"), visit);
        for (int n = 0; n < 5; ++n) menu->update(*audio, 10.0f, 0.0f);
        EXPECT_EQ(menu->currentMenu(), &menu->leaderboards());
        auto const close = std::exchange(game_center::closeCallback(), nullptr);
        ASSERT_TRUE(close);
        close(true);
        until(*menu, [&] { return menu->currentMenu() == &menu->startMenu(); });
        EXPECT_TRUE(menu->isAtRootMenu());
    }
    EXPECT_EQ(syncs(), 4u);
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
    until(*menu, [&] { return menu->notice().state() == ConfirmationBox::kInteractive; });
    until(*menu, [&] { return menu->startMenu().state() == 4; });

    // A tap on play and a move of the controller reach the notice, not the start page.
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
    until(*menu, [&] { return menu->downloadOverlay()->noDiskSpaceBox().state() == ConfirmationBox::kInteractive; });
    EXPECT_TRUE(menu->notice().isHidden());
    menu->gamepadInput(GamepadState{});
    menu->gamepadInput(down);
    EXPECT_EQ(menu->startMenu().focus().focused(), 2u);
    menu->buttonPressed(ViewController::buttonPause);  // now the box's
    until(*menu, [&] { return !menu->downloadOverlay()->isBlockingInput(); });
    menu->gamepadInput(GamepadState{});
    menu->gamepadInput(down);
    EXPECT_EQ(menu->startMenu().focus().focused(), 3u);  // credits: no hardcore before the download

    menu.reset();
    EXPECT_TRUE(make()->notice().isHidden());  // once per save record
}

// The loader is owned here and the install callback deletes it at once, as an app frame without
// deferred deletion would.
class MainMenuLoader : public MainMenu {
protected:
    // The screen the loader comes from: counts its updates and whether it still lives.
    struct OldScreen : DummyViewController {
        MainMenuLoader* test;
        explicit OldScreen(MainMenuLoader* t) : test(t) { ++test->alive; }
        ~OldScreen() override { --test->alive; }
        void update(Audio::Context&, float, float) override { ++test->oldUpdates; }
    };
    void run(boost::optional<std::string> const& video) {
        if (!post) post = std::make_unique<PostProcessingStep>(graphics.get(), glm::ivec2(320, 180), glm::ivec2(320, 180), true);
        oldUpdates = 0;
        owner = std::make_unique<MainMenuLoaderViewController>(
            graphics.get(), audio, std::make_unique<OldScreen>(this), post.get(), fonts.get(),
            [this](std::unique_ptr<ViewController>&& screen) {
                texturesAtInstall = graphics->texturesLoaded();
                owner = std::move(screen);
            },
            startLevel, &sync, video);
        loader = static_cast<MainMenuLoaderViewController*>(owner.get());
    }
    // One 16 ms frame as the app frame runs it; false once the loader is gone.
    bool tick() {
        owner->update(*audio, 16.0f, 0.0f);
        if (owner.get() != loader) return false;
        post->update(16.0f);
        post->updateColors();
        graphics->updateTextures();
        if (loader->state() == 3) std::this_thread::sleep_for(std::chrono::microseconds(500));  // decoding threads
        owner->preDraw(graphics.get());
        owner->drawOverlay(graphics.get(), shader.get());
        return true;
    }
    // Frames until the loader reaches the state (4: until it is gone); how many.
    int ticksUntil(uint32_t state) {
        int n = 0;
        while (loader->state() < state && n < 2000 && tick()) {
            ++n;
            if (alive) {
                EXPECT_EQ(oldUpdates, n);  // the old screen still runs under the fade
            }
        }
        return n;
    }

    std::unique_ptr<PostProcessingStep> post;
    std::unique_ptr<ViewController> owner;
    MainMenuLoaderViewController* loader = nullptr;
    int alive = 0, oldUpdates = 0;
    bool texturesAtInstall = false;
};

TEST_F(MainMenuLoader, FadesOutBuildsWaitsForTexturesAndInstallsAsItsLastAct) {
    run(boost::none);
    EXPECT_NEAR(ticksUntil(3) * 16, 1000, 48);  // the fade to black, the old screen updated under it
    EXPECT_EQ(alive, 0);
    EXPECT_TRUE(graphics->burstLoading());
    auto* menu = dynamic_cast<MainMenuViewController*>(loader->heldScreen());
    ASSERT_NE(menu, nullptr);
    EXPECT_FALSE(menu->started());  // not updated by the loader
    ticksUntil(4);
    ASSERT_EQ(owner.get(), menu);
    EXPECT_TRUE(texturesAtInstall);
    EXPECT_FALSE(graphics->burstLoading());
    EXPECT_TRUE(post->isColorFading());  // fading back in
    EXPECT_TRUE(shell.calls.empty());   // no video asked for, no skip
    EXPECT_TRUE(Tally::events().empty());
}

TEST_F(MainMenuLoader, VideoIsLoggedPlayedSkippedByAAndEndsInTheMenu) {
    run(std::string("videos/intro.mp4"));
    GamepadState a;
    a.buttonA = 1;
    owner->gamepadInput(a);  // before the video: only the platform's skip
    ticksUntil(2);
    EXPECT_EQ(alive, 0);
    ASSERT_EQ(shell.calls, (std::vector<std::string>{"skip", "video videos/intro.mp4"}));
    ASSERT_EQ(Tally::events().size(), 1u);
    EXPECT_EQ(Tally::events()[0].name, "PLAYED_VIDEO_WITH_PATH: videos/intro.mp4");
    for (int n = 0; n < 100; ++n) ASSERT_TRUE(tick());  // textures long loaded: the video holds it
    owner->gamepadInput(a);
    EXPECT_EQ(shell.count("skip"), 2u);
    auto done = std::exchange(shell_services::videoDoneCallback(), nullptr);  // the shell ends the video
    ASSERT_TRUE(done);
    done();
    EXPECT_EQ(loader->state(), 3u);
    ticksUntil(4);
    EXPECT_NE(dynamic_cast<MainMenuViewController*>(owner.get()), nullptr);

    // A loader gone while its video plays ignores the end that arrives later.
    run(std::string("videos/intro.mp4"));
    ticksUntil(2);
    owner.reset();
    done = std::exchange(shell_services::videoDoneCallback(), nullptr);
    ASSERT_TRUE(done);
    done();
}

}  // namespace
