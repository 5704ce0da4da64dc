// The main menu and its pages on real GL and the built data, with recording platform fakes (shell,
// music, download state and hooks, cloud sync): the download bar, the credits over a string table
// of the test's own, the backdrop covering the screen, the screen's music, page table, notice and
// input routing, and the loader from the previous screen to the installed menu.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <limits>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "analytics/agent/Tally.h"
#include "fonts/Layout.h"
#include "fonts/MurmurHash2.h"
#include "fonts/StringTable.h"
#include "graphics/PostProcessingStep.h"
#include "level/LevelCatalog.h"
#include "menus/MainMenuLoaderViewController.h"
#include "menus/MainMenuViewController.h"
#include "menus/tests/MenuFixture.h"
#include "os/DummyViewController.h"
#include "os/services/GameCenter.h"
#include "os/services/Music.h"
#include "os/services/ShellBridge.h"
#include "os/tests/ZipWriter.h"
#include "save/CloudSyncThread.h"
#include "save/RoamingDataFile.h"

namespace {

using Overlay = BackgroundDownloaderOverlay;
constexpr float kFrame = 1000.0f / 60.0f;

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
std::vector<bool> allowCalls;
int hookCalls = 0;

void setDownload(int state, int reason, float progress) {
    shell_services::setDownloadState(state);
    shell_services::setDownloadPausedReason(reason);
    shell_services::setDownloadProgress(progress);
}

// A mesh's glyph vertices as bytes: equal meshes give equal strings.
std::string glyphs(Fonts::TextMesh const& mesh) {
    std::string bytes;
    for (auto const& b : mesh.batches)
        bytes.append(reinterpret_cast<char const*>(b.vertices.data()), b.vertices.size() * sizeof(b.vertices[0]));
    return bytes;
}

class MainMenu : public menus_test::MenuFixture {
protected:
    void SetUp() override {
        setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
        setDownload(4, 0, 1.0f);
        Overlay::resetRunFlags();
        allowCalls.clear();
        hookCalls = 0;
        Overlay::platformCalls() = {[](bool allowed) { allowCalls.push_back(allowed); }, [] { ++hookCalls; }};
        MenuFixture::SetUp();
        ShellBridge::set(&shell);
        musicPaths.clear();
        music_services::setFileOpener([](char const* path) {
            musicPaths.push_back(path);  // on the music queue; read after a runOnQueue
            return music_services::Bytes{};
        });
        Tally::reset();
        Tally::setRecordingEvents(true);
    }
    void TearDown() override {
        Overlay::platformCalls() = {&::allowCellularDownload, &::downloadOverlayHook};
        Credits::setSeedForTesting(std::nullopt);
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
    std::unique_ptr<Overlay> makeOverlay(bool enabled = true) {
        auto o = std::make_unique<Overlay>(graphics.get(), audio, fonts.get(), enabled, [this] { ++consents; });
        EXPECT_TRUE(loadTextures());
        return o;
    }
    void step(MainMenuViewController& menu) { menu.update(*audio, 10.0f, 0.0f); }
    void step(Overlay& o) { o.update(true, 10.0f); }
    // Updates of 10 ms until done (at most 5 s), textures loaded on the way; how many it took.
    template <class Screen, class Done>
    int until(Screen& screen, Done&& done) {
        int n = 0;
        for (; n < 500 && !done(); ++n) step(screen), loadTextures();
        return n;
    }
    template <class Screen>
    void interactive(Screen& screen, ConfirmationBox& box) {
        until(screen, [&] { return box.state() == ConfirmationBox::kInteractive; });
        ASSERT_EQ(box.state(), ConfirmationBox::kInteractive);
    }
    int slideDone(Overlay& o) {
        return until(o, [&] { return o.shownState() == o.targetShownState() && o.currentSlide().state == 2; });
    }
    // Whether the bar draws anything over the clear colour in the top rows of the screen.
    bool drawsAtTop(Overlay& o) {
        o.preDraw();
        frame(glm::vec4(1, 0, 1, 1), [&] { o.draw(graphics.get(), shader.get()); });
        int changed = 0;
        for (float x = 330.0f; x < 950.0f; x += 8.0f)
            changed += !menus_test::near(at(x, 716.0f), testing_support::rgba(255, 0, 255));
        return changed > 10;
    }
    // A language of the test's own: the English fonts with these texts, mounted above the data.
    std::unique_ptr<Fonts::Context> language(std::string const& locale, std::map<std::string, std::string> const& texts) {
        auto& fs = Singleton<FileSystem>::instance();
        std::vector<Fonts::StringTable::Entry> entries;
        for (auto const& [k, v] : texts) entries.emplace_back(Fonts::stringKeyHash(k), v);
        std::sort(entries.begin(), entries.end());
        auto const table = Fonts::StringTable::write(entries);
        auto bytes = [&](std::string const& path) {
            auto f = fs.open(path);
            return std::string(reinterpret_cast<char const*>(f->data()), f->size());
        };
        std::vector<ziptest::Entry> zip{{"fonts/" + locale + ".strings", std::string(table.begin(), table.end())},
                                        {"fonts/" + locale + ".fonts", bytes("fonts/en_US.fonts")}};
        for (size_t i = 0; i < fonts->pages().size(); ++i)
            zip.emplace_back("fonts/" + locale + "_" + std::to_string(i) + ".png",
                             bytes("fonts/en_US_" + std::to_string(i) + ".png"));
        auto const file = documents.path() / (locale + ".zip");
        ziptest::writeFile(file, ziptest::build(zip));
        EXPECT_NE(fs.mount(file.string()), nullptr);
        return std::make_unique<Fonts::Context>(graphics.get(), "fonts/", locale);
    }
    Credits credits(Fonts::Context* f, std::function<void()> const& onEnd = [] {}) {
        return Credits(graphics.get(), audio, f, onEnd, glm::vec4(1.0f), 2, 1.0f);
    }
    size_t syncs() {
        for (int i = 0; i < 200 && (sync.isPending(1) || sync.queuedJobs()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return synced.load();
    }

    testing_support::TempDir documents;
    RecordingShell shell;
    int consents = 0;
    std::atomic<size_t> synced{0};
    CloudSyncThread sync{[this](CloudSyncThread::UniqueMessage kind) -> boost::optional<CloudSyncError> {
        synced += kind == 1;
        return boost::none;
    }};
    std::vector<std::string> started;
    MainMenuViewController::StartLevel startLevel = [this](std::string const& path, std::string const&, bool, bool,
                                                           bool) { started.push_back(path); };
};

class DownloadBar : public MainMenu {};
class CreditsPage : public MainMenu {};

TEST_F(DownloadBar, SlidesStatusBarAndFinishedNotice) {
    setDownload(0, 0, 0.25f);
    auto o = makeOverlay(false);
    EXPECT_FALSE(drawsAtTop(*o));
    // Shown at once: one update ends the initial slide out, then 1000 ms in, reported one later.
    o->show();
    EXPECT_NEAR(slideDone(*o), 102, 2);
    EXPECT_TRUE(drawsAtTop(*o));

    // Status by state and reason; out-of-contract states show none and never crash.
    for (auto [state, reason, status] :
         {std::tuple{0, 0, Overlay::kDownloading}, {1, 0, Overlay::kPaused}, {1, 1, Overlay::kNoNetwork},
          {1, 2, Overlay::kPaused}, {4, 0, Overlay::kVerifying}, {7, 0, Overlay::kNoStatus},
          {-3, 0, Overlay::kNoStatus}}) {
        setDownload(state, reason, 0.5f);
        o->update(false, 0.0f);
        EXPECT_EQ(o->status(), status) << state << " " << reason;
        EXPECT_TRUE(drawsAtTop(*o));
        o->show();  // state 4 turned the panel away: take that back before it moves
    }

    // Progress outside 0..1 keeps the bar within its frame.
    float const left = o->drawnBar().corner(2).position.x;
    for (auto [p, width] : {std::pair{1.7f, 640.0f}, {-3.0f, 0.0f}, {std::numeric_limits<float>::quiet_NaN(), 0.0f},
                            {0.75f, 480.0f}}) {
        setDownload(0, 0, p);
        o->update(true, 10.0f);
        drawsAtTop(*o);
        EXPECT_NEAR(o->drawnBar().corner(0).position.x - left, width, 0.01f) << p;
    }

    // Finished (states 2 and 3 are the bar's own contract): nothing while disabled; then the first
    // sighting is pending and closed by the same update, the second opens the box.
    setDownload(2, 0, 1.0f);
    for (int i = 0; i < 5; ++i) o->update(true, 10.0f);
    EXPECT_EQ(hookCalls, 0);
    o->setEnabled(true);
    o->update(true, 10.0f);
    EXPECT_EQ(hookCalls, 1);
    EXPECT_FALSE(o->isFinishPending() || o->finishedBox().isActive());
    o->update(true, 10.0f);
    EXPECT_EQ(o->status(), Overlay::kDownloading);
    interactive(*o, o->finishedBox());
    EXPECT_EQ(hookCalls, 2);  // not while the box is up
    o->buttonPressed(ViewController::buttonPause);  // its only answer
    EXPECT_TRUE(o->isFinishPending());

    // Verified: a full bar, and the panel slides out over 1000 ms; nothing is drawn after.
    setDownload(4, 0, 0.9f);
    o->update(true, 10.0f);
    EXPECT_FALSE(o->isFinishPending());
    EXPECT_FLOAT_EQ(o->progress(), 1.0f);
    EXPECT_NEAR(slideDone(*o), 101, 2);
    EXPECT_FALSE(drawsAtTop(*o));
}

TEST_F(DownloadBar, BoxesOncePerRunConsentAndInputRouting) {
    auto o = makeOverlay();
    // Hidden: no box whatever the reason; at 0.1 or more no cellular question either.
    for (int reason : {2, 3}) {
        setDownload(1, reason, 0.05f);
        for (int i = 0; i < 5; ++i) o->update(true, 10.0f);
    }
    o->show();
    setDownload(1, 3, 0.1f);
    slideDone(*o);
    EXPECT_FALSE(o->isBlockingInput() || Overlay::cellularAskedThisRun() || Overlay::noDiskSpaceShownThisRun());

    // Both boxes up: input goes to the cellular one first; its "no" stores nothing.
    setDownload(1, 2, 0.05f);
    interactive(*o, o->noDiskSpaceBox());
    setDownload(1, 3, 0.05f);
    interactive(*o, o->cellularBox());
    o->buttonPressed(ViewController::buttonPause);
    until(*o, [&] { return !o->cellularBox().isActive(); });
    EXPECT_EQ(o->noDiskSpaceBox().state(), ConfirmationBox::kInteractive);
    EXPECT_FALSE(RoamingDataFile("roamingData").data.cellularDownloadAllowed());
    o->buttonPressed(ViewController::buttonPause);  // now the no-disk box's only answer
    until(*o, [&] { return !o->isBlockingInput(); });

    // Neither comes back in this run, even with a new host.
    auto second = makeOverlay();
    second->show();
    for (int reason : {2, 3}) {
        setDownload(1, reason, 0.05f);
        for (int i = 0; i < 120; ++i) second->update(true, 10.0f), o->update(true, 10.0f);
    }
    EXPECT_FALSE(second->isBlockingInput() || o->isBlockingInput());
    EXPECT_TRUE(allowCalls.empty());
    EXPECT_EQ(consents, 0);

    // The next run asks again; "yes" is stored and reported.
    Overlay::resetRunFlags();
    setDownload(1, 3, 0.02f);
    interactive(*o, o->cellularBox());
    EXPECT_TRUE(o->cellularBox().affirmativeButton().button().activate());
    EXPECT_EQ(consents, 1);
    EXPECT_EQ(allowCalls, std::vector<bool>{true});
    EXPECT_TRUE(RoamingDataFile("roamingData").data.cellularDownloadAllowed());
    until(*o, [&] { return !o->isBlockingInput(); });

    // Stored consent: reported at every update with reason 3, never asked again, in a later run too.
    Overlay::resetRunFlags();
    allowCalls.clear();
    for (int i = 0; i < 4; ++i) o->update(true, 10.0f);
    EXPECT_EQ(allowCalls.size(), 4u);
    EXPECT_FALSE(o->cellularBox().isActive());
    setDownload(1, 1, 0.02f);
    o->update(true, 10.0f);
    EXPECT_EQ(allowCalls.size(), 4u);
}

TEST_F(CreditsPage, WalkGapsMissingTextsSwapAndTheEmptyText) {
    auto f = language("xa_XA", {{"credits_header_0", "Team"}, {"credits_just_names_0", "One\nTwo"},
                                {"credits_header_1", "Roles"}, {"credits_roles_1", "Lead\nArt"},
                                {"credits_names_1", "libpng\nlibwebp"},
                                {"credits_header_2_amazon_only", "Store people here"},
                                {"credits_names_2", "Never shown at all"},
                                {"credits_header_3", "Half"}, {"credits_roles_3", "Music"},
                                {"credits_header_5", "Past the end of the list"}});
    Credits::setSeedForTesting(1);
    Credits const c = credits(f.get());
    // Entry 2 is skipped, 3's missing names read "String not found", 5 is after the end (no 4).
    Fonts::TextMesh alone;
    for (auto const& [text, bold] : {std::pair{"Team", false}, {"One\nTwo", true}, {"Roles", false},
                                     {"Lead\nArt", false}, {"libpng\nlibwebp", true}, {"Half", false},
                                     {"Music", false}, {"String not found", true}})
        Fonts::layoutText(f->font(bold ? Fonts::FontStyle::creditsBold : Fonts::FontStyle::credits), alone,
                          glm::vec3(0.0f), text, Fonts::alignLeft, glm::vec4(1.0f), glm::mat4(1.0f), 1.0f);
    EXPECT_EQ(glyphs(c.mesh()).size(), glyphs(alone).size());
    // 50 from each header to its body, the body's own lines, 50 to the next header.
    float const line = -Fonts::layoutText(f->font(Fonts::FontStyle::creditsBold), alone, glm::vec3(0.0f), "a\nb",
                                          Fonts::alignLeft, glm::vec4(1.0f), glm::mat4(1.0f), 1.0f).y;
    ASSERT_GT(line, 0.0f);
    EXPECT_NEAR(c.bottom(), -10.0f - 3 * 100.0f - 2 * line, 0.5f);

    // The swap trades the two names; the coin is fixed by the seed, and the two names differ in
    // length, so a swap moves the glyphs.
    EXPECT_EQ(Credits::swapNames("libpng\nlibwebp\nlibpng"), "libwebp\nlibpng\nlibpng");
    EXPECT_EQ(Credits::swapNames("Only libpng"), "Only libwebp");
    bool seen[2] = {false, false};
    for (uint32_t seed = 0; seed < 16; ++seed) {
        Credits::setSeedForTesting(seed);
        Credits const a = credits(f.get()), b = credits(f.get());
        EXPECT_EQ(a.swapped(), b.swapped());
        seen[a.swapped()] = true;
        EXPECT_EQ(glyphs(a.mesh()) == glyphs(c.mesh()), a.swapped() == c.swapped());
    }
    EXPECT_TRUE(seen[0] && seen[1]);

    // No header 0 in any form: an empty text that still scrolls, 30 px a second at 60 frames,
    // until its end passes the middle; the owner may drop the credits from the end callback.
    auto empty = language("xb_XB", {{"credits_header_1", "Never reached"}});
    int ends = 0;
    std::unique_ptr<Credits> owned = std::make_unique<Credits>(credits(empty.get(), [&] { ++ends, owned.reset(); }));
    Credits& e = *owned;
    e.start();
    for (int i = 0; e.state() == Credits::kFadingIn && i < 1000; ++i) e.update(kFrame);
    int frames = 0;
    for (; e.state() == Credits::kScrolling && frames < 2000; ++frames) {
        e.update(kFrame);
        if (frames == 59) {
            EXPECT_FLOAT_EQ(e.offset(), 30.0f);
        }
    }
    // Past H/2 + 20 = 380 pixels: 761 frames, about 12.7 s.
    EXPECT_EQ(frames, 761);
    EXPECT_FLOAT_EQ(e.offset(), 381.0f);
    while (owned && frames < 3000) e.update(kFrame), ++frames;
    EXPECT_EQ(ends, 1);
}

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

TEST_F(MainMenu, MusicFadeAndEveryPageThereAndBack) {
    auto menu = make();
    menu->buttonPressed(ViewController::buttonPause);  // nothing reaches a page before the first update
    EXPECT_EQ(menu->currentMenu(), nullptr);
    EXPECT_TRUE(menu->notice().isHidden());       // a fresh save has no notice
    EXPECT_EQ(menu->downloadOverlay(), nullptr);  // the second archive is mounted

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

    // The level select; its back, through the page, leads home with a sync.
    menu->transit(MainMenuStartMenu::Play);
    until(*menu, [&] { return menu->levelSelect().state() == 5; });
    ASSERT_EQ(menu->currentMenu(), &menu->levelSelect());
    EXPECT_FALSE(menu->isAtRootMenu());
    menu->buttonPressed(ViewController::buttonPause);
    until(*menu, [&] { return menu->currentMenu() == &menu->startMenu(); });
    EXPECT_TRUE(menu->isAtRootMenu());
    size_t home = 2;
    EXPECT_EQ(syncs(), home);
    // Options; a value outside the table only clears the root.
    menu->transit(MainMenuStartMenu::Options);
    menu->transit(MainMenuStartMenu::Choice(9));
    EXPECT_EQ(menu->currentMenu(), &menu->options());
    EXPECT_FALSE(menu->isAtRootMenu());

    // The credits, from the bottom each time: nothing skips them while they fade in; A, a tap or
    // the pause code does while they scroll, and they move on while they fade out; then home.
    GamepadState a;
    a.buttonA = 1;
    Credits& c = menu->credits().credits();
    std::function<void()> const skips[] = {[&] { menu->gamepadInput(a), menu->gamepadInput(GamepadState{}); },
                                           [&] { menu->touchEnded(glm::vec2(640, 360), 0); },
                                           [&] { menu->buttonPressed(ViewController::buttonPause); }};
    for (auto const& skip : skips) {
        menu->transit(MainMenuStartMenu::Credits);
        EXPECT_FLOAT_EQ(c.offset(), 0.0f);
        for (auto const& early : skips) early();
        EXPECT_EQ(c.state(), Credits::kFadingIn);
        for (int i = 0; i < 80; ++i) menu->update(*audio, kFrame, 0.0f);
        menu->buttonPressed(ViewController::buttonPause + 1);
        EXPECT_EQ(c.state(), Credits::kScrolling);
        skip();
        float const at = c.offset();
        for (int i = 0; i < 10; ++i) menu->update(*audio, kFrame, 0.0f);
        EXPECT_FLOAT_EQ(c.offset(), at + 5.0f);
        frame(glm::vec4(0.0f), [&] { menu->preDraw(graphics.get()), menu->drawOverlay(graphics.get(), shader.get()); });
        until(*menu, [&] { return menu->isAtRootMenu(); });
        EXPECT_EQ(syncs(), ++home);
    }

    // The boards through the platform: signed in, their close leads home; signed out, the box and
    // home once it has closed; a second signed-in visit waits for its own close.
    for (bool shown : {true, false, true}) {
        menu->transit(MainMenuStartMenu::Leaderboards);
        for (int n = 0; n < 5; ++n) menu->update(*audio, 10.0f, 0.0f);
        EXPECT_EQ(menu->currentMenu(), &menu->leaderboards());
        std::exchange(game_center::closeCallback(), nullptr)(shown);
        if (!shown) {
            interactive(*menu, *menu->leaderboards().box());
            menu->gamepadInput(a);
            menu->gamepadInput(GamepadState{});
        }
        EXPECT_EQ(until(*menu, [&] { return menu->currentMenu() == &menu->startMenu(); }) > 10, !shown);
        EXPECT_EQ(syncs(), ++home);
    }
    EXPECT_EQ(shell.count("boards"), 3u);
    EXPECT_TRUE(started.empty());
}

TEST_F(MainMenu, NoticeThenADownloadBoxThenTheMenuTakeInput) {
    // Out of disk space while downloading: the bar's box waits until the notice has gone.
    setDownload(1, 2, 0.5f);
    RoamingDataFile("roamingData").data.levelEntry(uint32_t(LevelCatalog::count() - 1)).best() = 100;
    auto menu = make();
    ASSERT_NE(menu->downloadOverlay(), nullptr);
    EXPECT_EQ(RoamingDataFile("roamingData").data.noticeFlags() & 1u, 1u);  // written before it is seen
    interactive(*menu, menu->notice());
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
    interactive(*menu, menu->downloadOverlay()->noDiskSpaceBox());
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
        if (!post) post = std::make_unique<PostProcessingStep>(graphics.get(), glm::ivec2(320, 180), glm::ivec2(320, 180),
                                                               true);
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
            EXPECT_TRUE(!alive || oldUpdates == n);  // the old screen still runs under the fade
        }
        return n;
    }

    std::unique_ptr<PostProcessingStep> post;
    std::unique_ptr<ViewController> owner;
    MainMenuLoaderViewController* loader = nullptr;
    int alive = 0, oldUpdates = 0;
    bool texturesAtInstall = false;
};

TEST_F(MainMenuLoader, FadesBuildsPlaysTheVideoAndInstallsAsItsLastAct) {
    // Without a video: 1000 ms to black over the old screen, then the menu, built but not run, is
    // installed on the first frame its textures are loaded, fading in.
    run(boost::none);
    EXPECT_NEAR(ticksUntil(3) * 16, 1000, 48);
    EXPECT_EQ(alive, 0);
    EXPECT_TRUE(graphics->burstLoading());
    auto* menu = dynamic_cast<MainMenuViewController*>(loader->heldScreen());
    ASSERT_NE(menu, nullptr);
    EXPECT_FALSE(menu->started());
    ticksUntil(4);
    ASSERT_EQ(owner.get(), menu);
    EXPECT_TRUE(texturesAtInstall);
    EXPECT_FALSE(graphics->burstLoading());
    EXPECT_TRUE(post->isColorFading());
    EXPECT_TRUE(shell.calls.empty() && Tally::events().empty());

    // With one: A asks the platform to skip; logged, played, and held until the shell ends it.
    run(std::string("videos/intro.mp4"));
    GamepadState a;
    a.buttonA = 1;
    owner->gamepadInput(a);
    ticksUntil(2);
    ASSERT_EQ(shell.calls, (std::vector<std::string>{"skip", "video videos/intro.mp4"}));
    ASSERT_EQ(Tally::events().size(), 1u);
    EXPECT_EQ(Tally::events()[0].name, "PLAYED_VIDEO_WITH_PATH: videos/intro.mp4");
    for (int n = 0; n < 100; ++n) ASSERT_TRUE(tick());  // textures long loaded: the video holds it
    std::exchange(shell_services::videoDoneCallback(), nullptr)();
    EXPECT_EQ(loader->state(), 3u);
    ticksUntil(4);
    EXPECT_NE(dynamic_cast<MainMenuViewController*>(owner.get()), nullptr);

    // A loader gone while its video plays ignores the end that arrives later.
    run(std::string("videos/intro.mp4"));
    ticksUntil(2);
    owner.reset();
    std::exchange(shell_services::videoDoneCallback(), nullptr)();
}

}  // namespace
