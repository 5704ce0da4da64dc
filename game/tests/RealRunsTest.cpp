// The real `zelv` executable under Xvfb, driven by keys and clicks through XTest, each run with
// its save, settings, cache and analytics files in a folder of its own: pausing and resuming
// level01 and playing it to the results board (the save and the stored analytics sessions
// afterwards), a window destroyed by another program ending the game as a close does, the
// subtitles option chosen from the pause menu kept across a restart, the main road from the
// intro through the menus (their music playing) and level01 back to the main menu, every level
// and both bonus races started, and the last level's closing shot on through the closing
// cut-scene to the main menu's hardcore notice. Each run fails when the game asked for an asset
// the archives lack.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <list>
#include <map>

#include "analytics/agent/tests/StoredEvents.h"
#include "level/LevelCatalog.h"
#include "os/services/Documents.h"
#include "save/RoamingDataFile.h"
#include "testing/GameWindow.h"
#include "testing/TestPaths.h"
#include "testing/XInput.h"

namespace {

using game_window::GameWindow;
using game_window::Ms;

// Points of the 1280 x 720 screen, y up.
struct Point {
    float x, y;
};
Point const kPauseOptions{635, 375};
Point const kSubtitlesCheckbox{843, 458};
Point const kPlay{640, 168};
Point const kFirstLevelTile{434, 401};
Point const kSkipIntro{1180, 650};
Point const kBoardMainMenu{794, 244};
Point const kRockerRight{100, 84};

// The save as the game left it in the run's folder.
RoamingData savedRecord(std::filesystem::path const& home) {
    setDocumentsPath((home / "data" / "zelv").string() + "/");
    RoamingDataFile file("roamingData");
    return file.data;
}

using block_reader::Event;

// The events of the sessions the analytics agent stored in the run's folder.
std::vector<Event> storedEvents(std::filesystem::path const& home) {
    return block_reader::storedEvents(home / "data" / "zelv" / "TallyFiles");
}

// A level started directly, with a sound device so that its music plays.
GameWindow::Options atLevel(std::filesystem::path const& home, std::string const& path = "levels/level01.pxl") {
    GameWindow::Options o;
    o.home = home;
    o.args = {"--level", path};
    o.env["ALSOFT_DRIVERS"] = "null";
    return o;
}

// Right and jump pressed once play has begun and held until the end-of-level screen takes over,
// then let go; its board comes up with its buttons in. Nothing is pressed from the goal on: a
// press made before the board takes input is not what these runs test.
bool rollToTheBoard(GameWindow& game, Ms bound) {
    game.keyDown("Right");
    game.keyDown("space");
    bool const ended = game.waitForScreen("EndOfLevelViewController", bound);
    game.keyUp("space");
    game.keyUp("Right");
    return ended && game.waitForScreen("ResultsMenu", Ms(30000));
}

// Pauses from play: P until the pause screen is up.
bool pause(GameWindow& game) {
    return game.actUntilScreen("PauseViewController", [&] { game.tap("p"); }, Ms(1000), Ms(20000));
}

// Back to play from the pause menu (closing the options first if they are open): P once the menu
// has come up or slid back and holds still, then the fade back and the game screen. One P only:
// another during the fade back would pause again.
bool resume(GameWindow& game, bool optionsOpen = false) {
    if (optionsOpen) game.tap("p");
    if (!game.waitForStill(30, Ms(30000))) return false;
    game.tap("p");
    return game.waitForScreen("UnPauseViewController", Ms(30000)) && game.waitForScreen("GameViewController", Ms(20000));
}

// The pause menu's options button until the options panel takes input.
bool openOptions(GameWindow& game) {
    return game.actUntilScreen(
        "OptionsMenu", [&] { game.click(kPauseOptions.x, kPauseOptions.y); }, Ms(1000), Ms(30000));
}

TEST(RealRuns, Level01PausesResumesAndReachesTheResultsBoardWhichTheSaveAndTheSessionsKeep) {
    testing_support::TempDir home;
    {
        GameWindow game(atLevel(home.path()));
        ASSERT_TRUE(game.ok()) << game.describe();
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
        game_window::Picture play, shot;
        EXPECT_TRUE(game.waitForContent(Ms(20000), &play)) << "level01 stays dark: " << play.litShare();

        // The pause menu over the frozen, greyed frame.
        ASSERT_TRUE(pause(game)) << game.describe();
        EXPECT_TRUE(game.waitForContent(Ms(20000), &shot, &play))
            << "no pause menu: " << shot.litShare() << " lit, " << shot.differenceFrom(play) << " changed";
        ASSERT_TRUE(resume(game)) << game.describe();

        // Holding right and jump reaches the goal (as the scripted runs do); the end-of-level
        // screen takes over and its board comes up.
        ASSERT_TRUE(rollToTheBoard(game, Ms(120000))) << game.describe();
        EXPECT_TRUE(game.waitForContent(Ms(10000), &shot)) << "the results board is dark: " << shot.litShare();
        EXPECT_TRUE(game.waitUntil([&] { return savedRecord(home.path()).hasLevelEntry(0); }, Ms(10000)));
        EXPECT_TRUE(game.stop()) << game.describe();
    }

    // The record of level01, kept once the game has ended.
    RoamingData const saved = savedRecord(home.path());
    EXPECT_TRUE(saved.hasLevelEntry(0));

    // The level's start and its result, with its five parameters, in the stored sessions.
    std::vector<Event> const events = storedEvents(home.path());
    auto named = [&](std::string const& name) {
        return std::find_if(events.begin(), events.end(), [&](Event const& e) { return e.name == name; });
    };
    EXPECT_NE(named("STARTED_LEVEL_WITH_PATH: levels/level01.pxl"), events.end());
    auto const played = named("LEVELPLAYED");
    ASSERT_NE(played, events.end()) << events.size() << " events stored";
    std::map<std::string, std::string> const& p = played->params;
    ASSERT_EQ(p.size(), 5u);
    EXPECT_EQ(p.at("level"), LevelCatalog::entry(0).nameKey);
    EXPECT_TRUE(p.at("controlScheme") == "touch" || p.at("controlScheme") == "buttons" ||
                p.at("controlScheme") == "gamepad")
        << p.at("controlScheme");
    EXPECT_EQ(p.at("hardcore"), "0");
    EXPECT_EQ(p.at("deaths"), "0");
    EXPECT_GT(std::atoll(p.at("score").c_str()), 0) << p.at("score");
}

// Another program destroying the window mid-level ends the game as closing it does: status 0
// (not Xlib's exit on the first error about the window, nor a crash in the GL driver), its own
// last line logged, and the session with the level's start stored.
TEST(RealRuns, WindowDestroyedFromOutsideEndsTheGameAsAClose) {
    testing_support::TempDir home;
    {
        GameWindow game(atLevel(home.path()));
        ASSERT_TRUE(game.ok()) << game.describe();
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
        game_window::Picture shot;
        EXPECT_TRUE(game.waitForContent(Ms(20000), &shot)) << "level01 stays dark: " << shot.litShare();
        EXPECT_TRUE(game.closeFromOutside()) << game.describe();
        EXPECT_NE(game.log().find("zelv: ended after"), std::string::npos) << game.describe();
    }
    std::vector<Event> const events = storedEvents(home.path());
    EXPECT_TRUE(std::any_of(events.begin(), events.end(),
                            [](Event const& e) { return e.name == "STARTED_LEVEL_WITH_PATH: levels/level01.pxl"; }))
        << events.size() << " events stored";
}

TEST(RealRuns, SubtitlesToggledInThePauseOptionsSurviveARestart) {
    testing_support::TempDir home;
    ASSERT_TRUE(savedRecord(home.path()).subtitlesEnabled()) << "subtitles start on";
    // Two runs of the game on the same folder: each turns the checkbox over once. The second
    // turns it back on only if it came up off, as the first run left it.
    for (bool const expected : {false, true}) {
        GameWindow game(atLevel(home.path()));
        ASSERT_TRUE(game.ok()) << game.describe();
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
        ASSERT_TRUE(pause(game)) << game.describe();
        ASSERT_TRUE(openOptions(game)) << game.describe();
        game_window::Picture shot;
        EXPECT_TRUE(game.waitForContent(Ms(10000), &shot)) << "the options are dark: " << shot.litShare();
        game.click(kSubtitlesCheckbox.x, kSubtitlesCheckbox.y);
        EXPECT_TRUE(
            game.waitUntil([&] { return savedRecord(home.path()).subtitlesEnabled() == expected; }, Ms(15000)))
            << "the checkbox did not write the save; " << game.describe();
        // The options close and the menu slides back; then play goes on.
        ASSERT_TRUE(resume(game, true)) << game.describe();
        EXPECT_TRUE(game.stop()) << game.describe();
        EXPECT_EQ(savedRecord(home.path()).subtitlesEnabled(), expected);
    }
}

// The main road as a player takes it: plain zelv plays the intro cut-scene, skipped, then the
// main menu; play opens the level select; a tap on the first level's tile asks the tutorial
// question, and its answer starts level01; the level is played to its goal; the results board
// shows and its main-menu button leads back to the main menu; the save then holds the entry.
// The music a player hears: the track as the music queue started it (a sound device is there
// only with ALSOFT_DRIVERS=null).
std::string const kMenuMusic = "Music: playing audio/music/Dravo_MusicTrack01.m4a\n";
std::string const kBonusMusic = "Music: playing audio/music/Dravo_MusicTrackBonusGame01.m4a\n";

bool heard(GameWindow& game, std::string const& line, Ms bound) {
    return game.waitUntil([&] { return game.log().find(line) != std::string::npos; }, bound);
}

TEST(RealRuns, MainRoadFromBootThroughLevel01BackToTheMainMenu) {
    testing_support::TempDir home;
    std::string output;
    {
        GameWindow::Options o;
        o.home = home.path();
        o.env["ALSOFT_DRIVERS"] = "null";
        GameWindow game(o);
        ASSERT_TRUE(game.ok()) << game.describe();
        // Plain zelv opens with the intro cut-scene; its skip button skips it. No key is pressed
        // before the level select, so the mouse stands for a touch screen with no controller.
        game_window::Picture menu, shot;
        ASSERT_EQ(game.nextScreen(Ms(60000)), "LevelLoaderViewController<GameViewController>") << game.describe();
        ASSERT_EQ(game.nextScreen(Ms(60000)), "GameViewController") << game.describe();
        EXPECT_TRUE(game.waitForContent(Ms(20000), &shot)) << "the intro is dark: " << shot.litShare();
        ASSERT_TRUE(game.actUntilScreen("MainMenuLoaderViewController",
                                        [&] { game.click(kSkipIntro.x, kSkipIntro.y); }, Ms(1000), Ms(60000)))
            << game.describe();
        ASSERT_TRUE(game.waitForScreen("MainMenuViewController", Ms(30000))) << game.describe();
        ASSERT_TRUE(game.waitForScreen("MainMenuStartMenu", Ms(30000))) << game.describe();
        EXPECT_TRUE(game.waitForContent(Ms(20000), &menu)) << "the main menu is dark: " << menu.litShare();
        EXPECT_TRUE(heard(game, kMenuMusic, Ms(20000))) << game.describe();

        ASSERT_TRUE(game.actUntilScreen("LevelSelectMenu", [&] { game.click(kPlay.x, kPlay.y); }, Ms(1500), Ms(30000)))
            << game.describe();
        EXPECT_TRUE(game.waitForContent(Ms(20000), &shot, &menu)) << "no level select: " << shot.litShare();
        // A tap on the first level asks the tutorial question; A answers its focused button, "no".
        game.click(kFirstLevelTile.x, kFirstLevelTile.y);
        ASSERT_EQ(game.nextScreen(Ms(30000)), "ConfirmationBox") << game.describe();
        game.tap("space");
        ASSERT_EQ(game.nextScreen(Ms(30000)), "LevelLoaderViewController<GameViewController>") << game.describe();
        // A skips level01's opening cut-scene; then the level is rolled through to its goal.
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
        ASSERT_TRUE(game.actUntilScreen("LevelLoaderViewController<GameViewController>", [&] { game.tap("space"); },
                                        Ms(1500), Ms(60000)))
            << game.describe();
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
        ASSERT_TRUE(rollToTheBoard(game, Ms(150000))) << game.describe();
        EXPECT_TRUE(game.waitForContent(Ms(20000), &shot)) << "the results board is dark: " << shot.litShare();

        ASSERT_TRUE(game.actUntilScreen("MainMenuViewController",
                                        [&] { game.click(kBoardMainMenu.x, kBoardMainMenu.y); }, Ms(1500),
                                        Ms(60000)))
            << game.describe();
        ASSERT_TRUE(game.waitForScreen("MainMenuStartMenu", Ms(30000))) << game.describe();
        EXPECT_TRUE(game.waitForContent(Ms(20000), &shot)) << "the main menu is dark: " << shot.litShare();
        EXPECT_TRUE(game.stop()) << game.describe();
        output = game.describe();
    }
    EXPECT_TRUE(savedRecord(home.path()).hasLevelEntry(0)) << output;
    std::vector<Event> const events = storedEvents(home.path());
    for (char const* name : {"STARTED_LEVEL_WITH_PATH: levels/intro.pxl", "SKIPPED_INTRO", "TUTORIAL_NO",
                             "STARTED_LEVEL_WITH_PATH: levels/level01.pxl", "LEVELPLAYED"})
        EXPECT_TRUE(std::any_of(events.begin(), events.end(), [&](Event const& e) { return e.name == name; }))
            << name << " is not in the stored sessions";
}

// Every catalog level started on its own asks only for assets the archives hold (stop() fails
// on a miss), a few at a time with nothing pressed but P to go on from the pause a level
// started without the focus makes; the bonus levels with their popups answered,
// so that their races, and time attack's music, start. (The cut-scenes: the main road and the
// last level's run.)
TEST(RealRuns, EveryLevelAndBothBonusRacesFindTheAssetsTheyAskFor) {
    struct Run {
        testing_support::TempDir home;
        GameWindow game;
        explicit Run(std::string const& path) : game(atLevel(home.path(), path)) {}
    };
    for (uint64_t first = 0; first < LevelCatalog::count(); first += 4) {
        std::list<Run> runs;
        for (uint64_t i = first; i < std::min(LevelCatalog::count(), first + 4); ++i)
            runs.emplace_back(LevelCatalog::entry(i).path);
        uint64_t i = first;
        for (Run& r : runs) {
            bool const bonus = LevelCatalog::entry(i++).mode != GameMode::Normal;
            ASSERT_TRUE(r.game.ok() && r.game.waitForScreen("GameViewController", Ms(90000))) << r.game.describe();
            // The windows come up together and one has the focus: a level that started without it
            // paused at once, and is resumed once its window has it.
            r.game.setFocus(true);
            r.game.pass(Ms(300));
            if (r.game.currentScreen() == "PauseViewController") ASSERT_TRUE(resume(r.game)) << r.game.describe();
            // Once its music plays (or its popup is up), a level has asked for all it needs to start.
            EXPECT_TRUE(bonus ? r.game.waitForScreen("ConfirmationBox", Ms(60000)) : heard(r.game, "Music: playing ", Ms(30000)))
                << r.game.describe();
            EXPECT_TRUE(r.game.stop()) << r.game.describe();
        }
    }
    for (std::string const path : {"levels/bonus01.pxl", "levels/bonus02.pxl"}) {
        Run r(path);
        ASSERT_TRUE(r.game.waitForScreen("ConfirmationBox", Ms(90000))) << r.game.describe();
        ASSERT_TRUE(r.game.actUntilScreen("GameViewController", [&] { r.game.tap("Return"); }, Ms(1500), Ms(30000)))
            << r.game.describe();
        if (path == "levels/bonus01.pxl") {
            EXPECT_TRUE(heard(r.game, kBonusMusic, Ms(60000))) << r.game.describe();
        }
        EXPECT_TRUE(r.game.waitForContent(Ms(20000))) << path << " stays dark";
        EXPECT_TRUE(r.game.stop()) << r.game.describe();
    }
}

// The last catalog level played with the on-screen buttons, the mouse resting on the rocker's
// right half: at the cliff the closing shot takes the view, the controls fade out and the cave's
// lanterns light up while the level still runs, and they swing while the view holds; the shot's
// end brings the board. Continue (P, the controller's menu button) plays the closing cut-scene
// levels/end.pxl, whose credits roll once its subtitles are over, its music heard through them;
// after it the main menu tells once that hardcore is unlocked, and the save keeps that it did.
TEST(RealRuns, TheLastLevelClosesOnItsClosingShotThenTheCutSceneItsCreditsAndTheHardcoreNotice) {
    testing_support::TempDir home;
    std::string const last = LevelCatalog::entry(LevelCatalog::count() - 1).path;
    std::filesystem::create_directories(home / "data" / "zelv");
    {
        setDocumentsPath((home / "data" / "zelv").string() + "/");
        RoamingDataFile file("roamingData");
        file.data.setControlScheme(1);
    }
    // The jump button's cream art at the bottom right, where nothing of the level is cream.
    auto controlsShown = [](game_window::Picture const& p) {
        return p.shareIn(1120, 30, 1230, 140, [](uint8_t r, uint8_t g, uint8_t b) {
            return r > 225 && g > 210 && b > 180 && r - b > 15;
        });
    };
    {
        GameWindow::Options o;
        o.home = home.path();
        o.args = {"--level", last};
        o.deadline = Ms(500000);
        game_window::SoundRecording const sound(o);
        GameWindow game(o);
        ASSERT_TRUE(game.ok()) << game.describe();
        // Each grab: frames the picture stood still, and the widest line of sky atop non-sky at the top.
        auto sky = [](uint8_t r, uint8_t g, uint8_t b) { return b > 200 && g > 160 && r < 170; };
        game_window::Picture last;
        long since = 0, longest = 0;
        int grabs = 0, thinSky = 0;
        auto const look = [&, record = o.env["ZELV_DRAW_RECORD"]] {
            long const before = game_window::recordedFrame(record);
            game_window::Picture p = game.screenshot();
            if (!p.rgb.empty() && p.rgb == last.rgb) longest = std::max(longest, before - since);
            else last = p, since = game_window::recordedFrame(record);
            auto skyAt = [&](int i) { uint8_t const* c = &p.rgb[3 * size_t(i)]; return sky(c[0], c[1], c[2]); };
            for (int x = p.width / 8, run = 0; x < p.width && p.height > 16; ++x)  // the pause button left out
                thinSky = std::max(thinSky, run = skyAt(x) && !skyAt(x + 16 * p.width) ? run + 1 : 0);
            return ++grabs, p;
        };
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
        game_window::Picture shot;
        ASSERT_TRUE(game.waitUntil([&] { return controlsShown(shot = game.screenshot()) > 0.1; }, Ms(20000)))
            << "no controls: " << controlsShown(shot);
        game.mouseDown(kRockerRight.x, kRockerRight.y);
        // The shot's last view: the cave at the shaft's foot, its lanterns' warm light (more than
        // the shaft's few) lit by the shot's third step, not discs of a coin's gold, the controls
        // gone, and the level still running.
        auto lamplight = [](uint8_t r, uint8_t g, uint8_t b) { return r > 150 && g < 180 && r - b > 90 && r > g + 30; };
        auto gold = [](uint8_t r, uint8_t g, uint8_t b) { return r > 230 && g > 180 && g < 230 && b < 110; };
        EXPECT_TRUE(game.waitUntil(
            [&] {
                shot = look();
                return game.currentScreen() == "GameViewController" && controlsShown(shot) < 0.002 &&
                       shot.shareIn(0, 0, 1280, 720, lamplight) > 0.004;
            },
            Ms(200000)))
            << "controls " << controlsShown(shot) << ", lamplight " << shot.shareIn(0, 0, 1280, 720, lamplight)
            << game.describe();
        EXPECT_LT(shot.shareIn(0, 0, 1280, 720, gold), 0.005) << "the cave's lamps look like coins";
        EXPECT_EQ(shot.shareIn(0, 0, 1280, 8, sky), 0.0) << "sky shows along the cave's bottom edge";
        // While the view holds, the lanterns above the ball move: half a second of the game's time
        // later the upper part of the picture has changed.
        game_window::Picture const later = (game.pass(Ms(500)), look());
        size_t moved = 0, upper = size_t(shot.width) * size_t(shot.height) * 6 / 10;
        for (size_t i = 0; i < upper * 3 && i < later.rgb.size() && i < shot.rgb.size(); ++i)
            moved += std::abs(int(shot.rgb[i]) - int(later.rgb[i])) > 32;
        EXPECT_GT(double(moved) / double(upper * 3), 0.001) << "the closing shot stands still";
        bool const ended = game.actUntilScreen("EndOfLevelViewController", look, Ms(50), Ms(200000));
        game.mouseUp();
        ASSERT_TRUE(ended && game.actUntilScreen("ResultsMenu", look, Ms(50), Ms(30000))) << game.describe();
        // From the first press to the board, no stretch a player would take for a frozen game.
        EXPECT_GT(grabs, 100);
        EXPECT_LE(longest, 90) << "the picture stood still for " << longest << " frames";
        // Sky leaving the top edge over a hill's slope is a wedge; across the shaft's mouth, a line.
        EXPECT_LT(thinSky, shot.width / 10) << "a line of sky " << thinSky << " pixels long along the top edge";
        ASSERT_TRUE(game.actUntilScreen("LevelLoaderViewController<GameViewController>", [&] { game.tap("p"); },
                                        Ms(1500), Ms(60000)))
            << game.describe();
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
        ASSERT_TRUE(heard(game, "Music: playing music/end.m4a\n", Ms(60000))) << game.describe();
        auto const closingStart = sound.mark();
        ASSERT_TRUE(game.waitForScreen("Credits", Ms(90000))) << game.describe();
        EXPECT_TRUE(game.waitForContent(Ms(20000), &shot)) << "the credits are dark: " << shot.litShare();
        ASSERT_TRUE(game.waitForScreen("MainMenuLoaderViewController", Ms(180000))) << game.describe();
        // To the credits' end: the scene's fade to black (about 1.3 s) turns the music down.
        std::vector<double> const closing = sound.heardBetween(closingStart, sound.mark(), 2.0);
        EXPECT_GE(closing.size(), 50u) << "the cut-scene's music, if any, ran " << closing.size() << " s";
        for (size_t i = 0; i < closing.size(); ++i) EXPECT_GT(closing[i], 0.01) << "no music " << i + 1 << " s in";
        std::string const credits = "zelv: screen Credits\n";
        size_t const first = game.log().find(credits);
        EXPECT_EQ(game.log().find(credits, first + 1), std::string::npos) << "the credits came up twice";
        ASSERT_TRUE(game.waitForScreen("MainMenuViewController", Ms(60000))) << game.describe();
        ASSERT_TRUE(game.waitForScreen("ConfirmationBox", Ms(60000))) << game.describe();
        EXPECT_TRUE(game.waitForContent(Ms(20000), &shot)) << "the notice is dark: " << shot.litShare();
        EXPECT_TRUE(game.stop()) << game.describe();
    }
    RoamingData const saved = savedRecord(home.path());
    EXPECT_TRUE(saved.hasLevelEntry(uint32_t(LevelCatalog::count() - 1)));
    EXPECT_EQ(saved.noticeFlags() & 1u, 1u);
    std::vector<Event> const events = storedEvents(home.path());
    for (std::string const name : {"STARTED_LEVEL_WITH_PATH: levels/end.pxl", "PLAYED_CUTSCENE_WITH_PATH: levels/end.pxl"})
        EXPECT_TRUE(std::any_of(events.begin(), events.end(), [&](Event const& e) { return e.name == name; }))
            << name << " is not in the stored sessions";
    EXPECT_FALSE(std::any_of(events.begin(), events.end(), [](Event const& e) { return e.name == "SKIPPED_INTRO"; }));
}

}  // namespace

int main(int argc, char** argv) { return testing_support::runTestsUnderXvfb(argc, argv); }
