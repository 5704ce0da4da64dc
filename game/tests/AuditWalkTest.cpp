// The real `zelv` executable under Xvfb, walked along the main road (intro, main menu, options
// with both control schemes, level select, level01, pause, the restart question, the results
// board, the level's board, the main menu's boards, credits) while it writes down what it draws
// (ZELV_DRAW_RECORD). On every screen the record and a screenshot are checked as a player would
// look at them: nothing outside the window, no two texts over each other, no text over a button it
// does not belong to, every text inside the box it is drawn on (a pop-up's face, a subtitle's
// backing) and clear of its edge, no text of the picture kept behind a board showing around its
// buttons, and every text readable on the pixels behind it (contrast ratio of at least 4.5:1).
// Off the main road the same checks run on the intro with subtitles, the hardcore notice, time
// attack and collect time with the on-screen controls and their results (time attack's music is
// listened to through its race) and the closing credits as they roll, and a focused button's
// painted words are read through its pulse; arrows are held as each box over a page opens and
// goes, and keys as the pause menu and the results come up; keys pressed as a screen changes act
// on the next, each of two in turn, the pause and Space pressed as a page opens or a level fades
// back in act there once it takes them, and a level that loads or resumes without the focus
// pauses. The screenshots are
// kept under the build folder
// (audit-walk/<Xvfb screen>/<case>/) for a person to look at. The Xvfb screen (ZELV_XVFB_SCREEN) picks the window: 1280x720 gives a 1280 x 720
// window, 1400x800 the game's own 1334 x 750.
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <png.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "level/LevelCatalog.h"
#include "os/services/Documents.h"
#include "save/RoamingDataFile.h"
#include "testing/GameWindow.h"
#include "testing/TestPaths.h"
#include "testing/XInput.h"

namespace {

using game_window::GameWindow;
using game_window::Ms;
using game_window::Picture;

struct Box {
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    Box shrunk(float by) const { return {x0 + by, y0 + by, x1 - by, y1 - by}; }
    bool meets(Box const& o) const { return x0 < o.x1 && o.x0 < x1 && y0 < o.y1 && o.y0 < y1; }
    bool inside(float w, float h) const { return x0 >= -1 && y0 >= -1 && x1 <= w + 1 && y1 <= h + 1; }
    bool within(Box const& o) const { return x0 >= o.x0 && y0 >= o.y0 && x1 <= o.x1 && y1 <= o.y1; }
};

struct Drawn {
    bool text = false;
    int id = 0;  // a button's number; a text's owning button, 0 for none
    Box box;
    float r = 0, g = 0, b = 0, a = 0;
    std::string words;
    bool panel = false;   // a box that holds texts: what lies over it keeps inside it
    bool behind = false;  // a text of a picture kept from before, now under the screen
};

struct Record {
    long frame = -1;  // the frame's number
    int still = 0;    // frames before this one that drew the same
    int width = 0, height = 0;
    std::vector<Drawn> items;
};

// The record file as the game writes it: "frame N", "still N", "window W H", then
// "text OWNER x0 y0 x1 y1 r g b a WORDS" and "button ID x0 y0 x1 y1" lines, tab-separated.
Record readRecord(std::filesystem::path const& path) {
    Record out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string f; std::getline(split, f, '\t');) fields.push_back(f);
        if (fields.empty()) continue;
        if (fields[0] == "frame" && fields.size() == 2) {
            out.frame = std::stol(fields[1]);
        } else if (fields[0] == "still" && fields.size() == 2) {
            out.still = std::stoi(fields[1]);
        } else if (fields[0] == "window" && fields.size() == 2) {
            std::istringstream(fields[1]) >> out.width >> out.height;
        } else if (((fields[0] == "text" || fields[0] == "behind") && fields.size() >= 4) ||
                   ((fields[0] == "button" || fields[0] == "panel") && fields.size() == 3)) {
            Drawn d;
            d.text = fields[0] == "text" || fields[0] == "behind";
            d.panel = fields[0] == "panel";
            d.behind = fields[0] == "behind";
            d.id = std::stoi(fields[1]);
            std::istringstream(fields[2]) >> d.box.x0 >> d.box.y0 >> d.box.x1 >> d.box.y1;
            if (d.text) {
                std::istringstream(fields[3]) >> d.r >> d.g >> d.b >> d.a;
                d.words = fields.size() > 4 ? fields[4] : "";
            }
            out.items.push_back(d);
        }
    }
    return out;
}

double luminance(double r, double g, double b) {
    auto lin = [](double s) { return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4); };
    return 0.2126 * lin(r) + 0.7152 * lin(g) + 0.0722 * lin(b);
}

double contrast(double l1, double l2) { return (std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05); }

// The colours behind a text: the pixels of its box that are not the text's own colour, grouped by
// colour (4 bits a channel); every group covering at least 8 % of the box counts as background.
// The smallest contrast between the text (blended by its alpha over that colour) and them, or 0
// when the box is mostly the text's own colour (text drawn on its own colour).
double worstContrast(Drawn const& t, Picture const& shot) {
    int const x0 = std::max(0, int(t.box.x0)), y0 = std::max(0, int(t.box.y0));
    int const x1 = std::min(shot.width, int(std::ceil(t.box.x1))), y1 = std::min(shot.height, int(std::ceil(t.box.y1)));
    if (x1 <= x0 || y1 <= y0) return 99;
    double const textL = luminance(t.r, t.g, t.b);
    struct Group {
        double r = 0, g = 0, b = 0;
        int n = 0;
    };
    std::map<int, Group> groups;
    int total = 0, ownColour = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            uint8_t const* p = &shot.rgb[(size_t(y) * size_t(shot.width) + size_t(x)) * 3];
            double const r = p[0] / 255.0, g = p[1] / 255.0, b = p[2] / 255.0;
            ++total;
            if (contrast(luminance(r, g, b), textL) < 1.6) {
                ++ownColour;
                continue;
            }
            Group& grp = groups[(p[0] >> 4) << 8 | (p[1] >> 4) << 4 | (p[2] >> 4)];
            grp.r += r, grp.g += g, grp.b += b, ++grp.n;
        }
    if (ownColour > total * 6 / 10) return 0;
    double worst = 99;
    for (auto const& [key, grp] : groups) {
        if (grp.n < total * 8 / 100) continue;
        double const r = grp.r / grp.n, g = grp.g / grp.n, b = grp.b / grp.n;
        double const a = std::clamp(double(t.a), 0.0, 1.0);
        double const textOver = luminance(t.r * a + r * (1 - a), t.g * a + g * (1 - a), t.b * a + b * (1 - a));
        worst = std::min(worst, contrast(textOver, luminance(r, g, b)));
    }
    return worst;
}

// What a player would trip over on this screen, one line each.
// A scrolling screen's texts come in and go out at the top and bottom edges.
std::vector<std::string> audit(Record const& record, Picture const& shot, bool scrolling = false) {
    std::vector<std::string> problems;
    auto say = [&](std::string const& what) { problems.push_back(what); };
    if (record.width != shot.width || record.height != shot.height) {
        say("the record is of a " + std::to_string(record.width) + "x" + std::to_string(record.height) +
            " window, the screenshot " + std::to_string(shot.width) + "x" + std::to_string(shot.height));
        return problems;
    }
    float const w = float(shot.width), h = float(shot.height);
    auto named = [](Drawn const& d) { return d.text ? "\"" + d.words + "\"" : "button " + std::to_string(d.id); };
    // Texts that show (skipping blanks and ones faded out); a text drawn again at the same place
    // is one text with its shadow: the last drawn is the text.
    std::vector<Drawn> texts, buttons, panels, behind;
    for (auto const& d : record.items) {
        if (d.panel || d.behind) {
            (d.panel ? panels : behind).push_back(d);
            continue;
        }
        if (!d.text) {
            buttons.push_back(d);
            continue;
        }
        if (d.a < 0.3f || d.words.find_first_not_of(" \\n") == std::string::npos) continue;
        auto same = std::find_if(texts.begin(), texts.end(),
                                 [&](Drawn const& o) { return o.words == d.words && o.box.meets(d.box); });
        if (same != texts.end()) *same = d;
        else texts.push_back(d);
    }
    // Texts wholly outside are not seen (a page to come, credits still below).
    std::erase_if(texts, [&](Drawn const& d) { return !d.box.meets(Box{0, 0, w, h}); });
    for (auto const& d : texts) {
        Box const seen = scrolling ? Box{d.box.x0, std::max(d.box.y0, 0.0f), d.box.x1, std::min(d.box.y1, h)} : d.box;
        if (!seen.inside(w, h)) say(named(d) + " leaves the window");
    }
    for (auto const& d : buttons)
        if (!d.box.inside(w, h)) say(named(d) + " leaves the window");
    for (auto const& p : panels) {
        if (!p.box.inside(w, h)) say("a text box leaves the window");
        for (auto const& t : texts)
            if (t.box.shrunk(2).meets(p.box) && !t.box.within(p.box.shrunk(6)))
                say(named(t) + " runs out of its box or touches its edge");
    }
    // The level's texts kept in the picture behind a board must not show around its buttons.
    for (auto const& t : behind)
        for (auto const& b : buttons)
            if (t.a >= 0.3f && t.box.shrunk(2).meets(b.box)) say(named(t) + " shows behind " + named(b));
    for (size_t i = 0; i < texts.size(); ++i) {
        for (size_t j = i + 1; j < texts.size(); ++j)
            if (texts[i].box.shrunk(2).meets(texts[j].box.shrunk(2)))
                say(named(texts[i]) + " and " + named(texts[j]) + " overlap");
        for (auto const& b : buttons)
            if (b.id != texts[i].id && texts[i].box.shrunk(2).meets(b.box.shrunk(2)))
                say(named(texts[i]) + " lies over " + named(b));
        double const c = worstContrast(texts[i], shot);
        if (c < 4.5) {
            std::ostringstream line;
            line << named(texts[i]) << " has a contrast of " << c << ":1 with what lies behind it";
            say(line.str());
        }
    }
    return problems;
}

void writePng(std::filesystem::path const& path, Picture const& shot) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(shot.width);
    image.height = png_uint_32(shot.height);
    image.format = PNG_FORMAT_RGB;
    png_image_write_to_file(&image, path.c_str(), 0, shot.rgb.data(), 0, nullptr);
}

// Taps a key until the named screen comes up.
bool tapUntil(GameWindow& game, std::string const& key, std::string const& screen, Ms bound = Ms(30000)) {
    return game.actUntilScreen(screen, [&] { game.tap(key); }, Ms(1200), bound);
}

class AuditWalk : public ::testing::Test {
protected:
    void SetUp() override {
        char const* screen = std::getenv("ZELV_XVFB_SCREEN");
        size_ = screen && *screen ? screen : "1400x800";
        // A folder of the case's own: cases of one size run side by side in separate processes.
        shots_ = testing_support::binaryDir() / "audit-walk" / size_ /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(shots_);
        std::filesystem::create_directories(shots_);
    }

    // Waits until the picture and the record hold still together (for a moving screen: until a
    // text has come up into the upper half of the window), keeps the screenshot and reports what the audit finds
    // on it.
    void check(GameWindow& game, std::string const& name, bool moving = false) {
        Picture shot;
        Record record;
        // A moving screen is given frames, not seconds: it fails once it stops moving or takes
        // 2400 frames (40 s of game time) however slowly the machine draws them.
        long const from = readRecord(recordPath_).frame;
        bool stopped = false;
        // Settled: the game drew the same for half a second of its frames, before and after the
        // grab, and the picture agrees closely with the grab before (no fade under way). A dark
        // screen (the boards over the night menu) counts as drawn when it has more than a few
        // colours.
        bool const steady = game.waitUntil(
            [&] {
                if (!moving && readRecord(recordPath_).still < 30) return false;
                Picture const before = std::move(shot);
                shot = game.screenshot();
                record = readRecord(recordPath_);
                if (shot.coarseColours() <= 8) return false;
                if (moving && (record.still >= 120 || record.frame - from > 2400)) return stopped = true;
                if (moving)
                    return std::any_of(record.items.begin(), record.items.end(), [&](Drawn const& d) {
                        return d.text && d.box.inside(float(record.width), float(record.height)) &&
                               d.box.y1 < float(record.height) / 2.0f;
                    });
                return record.still >= 30 && shot.differenceFrom(before, 6) < 0.01;
            },
            Ms(moving ? 300000 : 60000)) && !stopped;
        char number[8];
        std::snprintf(number, sizeof number, "%02d-", shotCount_++);
        writePng(shots_ / (number + name + ".png"), shot);
        ASSERT_TRUE(steady) << name << (moving ? " never brought a text up" : " never held still")
                            << ": the record had held for " << record.still << " frames (" << record.frame - from
                            << " since the check began), the picture shows " << shot.coarseColours() << " colours";
        for (auto const& problem : audit(record, shot, moving)) ADD_FAILURE() << name << " (" << size_ << "): " << problem;
        checked_.push_back(name);
    }

    // A game in this home that writes its draw record where the walk reads it.
    GameWindow::Options recording(testing_support::TempDir const& home) {
        recordPath_ = home.path() / "drawn.txt";
        GameWindow::Options o;
        o.home = home.path();
        o.env["ZELV_DRAW_RECORD"] = recordPath_.string();
        return o;
    }

    // The same, started straight into level01, with time to play it to its goal.
    GameWindow::Options recordingLevel01(testing_support::TempDir const& home) {
        GameWindow::Options o = recording(home);
        o.args = {"--level", "levels/level01.pxl"};
        o.deadline = Ms(420000);
        return o;
    }

    // Until the game has drawn n frames more.
    bool framesPass(GameWindow& game, long n) {
        long const from = readRecord(recordPath_).frame;
        return game.waitUntil([&] { return readRecord(recordPath_).frame >= from + n; }, Ms(30000));
    }

    // Whether the record of the last frame shows a text with these words.
    bool shows(std::string const& words) {
        Record const r = readRecord(recordPath_);
        return std::any_of(r.items.begin(), r.items.end(), [&](Drawn const& d) { return d.text && d.words == words; });
    }

    // The key pressed while the main menu loads (its loader has come up) and held until its start
    // menu has been up 30 frames.
    ::testing::AssertionResult pressAsTheMainMenuLoads(GameWindow& game, char const* key) {
        game.keyDown(key);
        bool const loading = game.currentScreen() != "MainMenuStartMenu";
        bool const up = game.waitForScreen("MainMenuStartMenu", Ms(60000)) && framesPass(game, 30);
        game.keyUp(key);
        framesPass(game, 10);
        if (!loading) return ::testing::AssertionFailure() << key << " went down after the start menu came up";
        if (!up) return ::testing::AssertionFailure() << "no start menu after the load";
        return ::testing::AssertionSuccess();
    }

    // Return on the start menu: what it opened (the boards on BOARDS, the level select on PLAY),
    // then back to the start menu.
    std::string pickAndGoBack(GameWindow& game) {
        game.tap("Return");
        std::string const opened = game.nextScreen(Ms(30000));
        if (opened == "GameServicesView" || opened == "LevelSelectMenu")
            EXPECT_TRUE(tapUntil(game, "Escape", "MainMenuStartMenu")) << game.describe();
        else
            ADD_FAILURE() << "Return on the start menu opened " << opened << ": " << game.describe();
        return opened;
    }

    // Return held on the focused BOARDS: the boards come up and stay up through the hold and after
    // it; only a new press closes them.
    void holdEnterOnBoards(GameWindow& game, std::string const& name) {
        game.keyDown("Return");
        bool const opened = game.waitForScreen("GameServicesView", Ms(30000));
        if (opened) check(game, name);
        int const held = readRecord(recordPath_).still;
        game.keyUp("Return");
        ASSERT_TRUE(opened) << name << ": " << game.describe();
        // Frames enough for the game to see the key let go, the boards still up.
        EXPECT_TRUE(game.waitUntil([&] { return readRecord(recordPath_).still >= held + 10 && shows("Leaderboards"); },
                                   Ms(30000)))
            << name << ": the boards did not stay up";
        game.tap("Return");
        EXPECT_TRUE(game.waitUntil([&] { return !shows("Leaderboards"); }, Ms(30000))) << name;
    }

    std::string size_;
    std::filesystem::path shots_;
    std::filesystem::path recordPath_;
    int shotCount_ = 0;
    std::vector<std::string> checked_;
};

TEST_F(AuditWalk, EveryScreenOfTheMainRoadIsReadableAndInsideTheWindow) {
    testing_support::TempDir home;
    GameWindow::Options o = recording(home);
    o.deadline = Ms(420000);
    GameWindow game(o);
    ASSERT_TRUE(game.ok()) << game.describe();

    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    check(game, "intro");
    ASSERT_TRUE(tapUntil(game, "Escape", "MainMenuStartMenu", Ms(60000))) << game.describe();
    check(game, "main-menu");

    // PLAY has the focus; Left is OPTIONS.
    game.tap("Left");
    check(game, "main-menu-options-focused");
    ASSERT_TRUE(tapUntil(game, "Return", "OptionsMenu")) << game.describe();
    check(game, "options");
    // The control scheme's right arrow has the focus: the other scheme's longer name, then back.
    game.tap("Return");
    check(game, "options-buttons-scheme");
    game.tap("Return");
    game.tap("Down");
    check(game, "options-down");
    ASSERT_TRUE(tapUntil(game, "Escape", "MainMenuStartMenu")) << game.describe();

    // OPTIONS keeps the focus; Right is PLAY.
    game.tap("Right");
    ASSERT_TRUE(tapUntil(game, "Return", "LevelSelectMenu")) << game.describe();
    check(game, "level-select");
    // Level01's tile, 206 left and 41 up of the centre (a player with keys is not asked about the
    // tutorial).
    ASSERT_TRUE(game.actUntilScreen(
        "LevelLoaderViewController<GameViewController>",
        [&] { game.click(640.0f - 206.0f, 360.0f + 41.0f); }, Ms(1500), Ms(30000)))
        << game.describe();
    // Level01's opening cut-scene, skipped, then the level.
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    ASSERT_TRUE(tapUntil(game, "Escape", "LevelLoaderViewController<GameViewController>", Ms(60000)))
        << game.describe();
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    check(game, "level01");
    ASSERT_TRUE(tapUntil(game, "p", "PauseViewController")) << game.describe();
    check(game, "pause");
    // The pause menu's restart asks first: the question box. Its "no" goes back to the menu.
    float const middle = 360.0f;
    ASSERT_TRUE(game.actUntilScreen(
        "ConfirmationBox", [&] { game.click(635.0f, middle - 95.0f); }, Ms(1500), Ms(30000)))
        << game.describe();
    check(game, "question-box");
    ASSERT_TRUE(game.actUntilScreen(
        "UnPauseViewController",
        [&] {
            game.click(640.0f - 150.0f, middle - 175.0f);
            game.tap("p");
        },
        Ms(1500), Ms(30000)))
        << game.describe();
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(20000))) << game.describe();

    game.keyDown("Right");
    game.keyDown("space");
    bool const ended = game.waitForScreen("EndOfLevelViewController", Ms(150000));
    game.keyUp("space");
    game.keyUp("Right");
    ASSERT_TRUE(ended) << game.describe();
    ASSERT_TRUE(game.waitForScreen("ResultsMenu", Ms(30000))) << game.describe();
    check(game, "results");

    // BOARDS, top right of the board: level01's board first, with the run just made.
    ASSERT_TRUE(game.actUntilScreen(
        "GameServicesView", [&] { game.click(640.0f + 445.0f, middle + 260.0f); }, Ms(1500), Ms(30000)))
        << game.describe();
    check(game, "leaderboards-level01");
    // OK closes them; MENU (right of RETRY) goes back to the main menu.
    game.tap("Return");
    ASSERT_TRUE(game.actUntilScreen(
        "MainMenuStartMenu", [&] { game.click(640.0f + 154.0f, middle - 116.0f); }, Ms(1500), Ms(60000)))
        << game.describe();
    ASSERT_TRUE(game.actUntilScreen(
        "GameServicesView", [&] { game.click(876.0f, 168.0f); }, Ms(1500), Ms(30000)))
        << game.describe();
    check(game, "leaderboards");
    // One press only: a second one would reach the menu behind.
    game.tap("Return");
    ASSERT_TRUE(game.waitForScreen("MainMenuStartMenu", Ms(30000))) << game.describe();
    // CREDITS, in the top left corner; clicked again only if the menu drew the same for 60 frames
    // after a click (it was lost): a click that lands once they scroll skips the credits.
    int heldAtClick = -1;
    ASSERT_TRUE(game.actUntilScreen(
        "Credits",
        [&] {
            int const held = readRecord(recordPath_).still;
            if (heldAtClick >= 0 && held < heldAtClick + 60) return;
            heldAtClick = held;
            game.click(110.0f, 610.0f);
        },
        Ms(0), Ms(60000)))
        << game.describe();
    check(game, "credits", true);
    ASSERT_TRUE(tapUntil(game, "Escape", "MainMenuStartMenu", Ms(60000))) << game.describe();
    EXPECT_TRUE(game.stop()) << game.describe();
    EXPECT_EQ(checked_.size(), 14u);
}

// Some interface up and running with an address: the rating question's network check passes.
bool networkUp() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool up = false;
    for (ifaddrs* a = list; a; a = a->ifa_next)
        up = up || (a->ifa_addr && !(a->ifa_flags & IFF_LOOPBACK) && (a->ifa_flags & IFF_RUNNING));
    freeifaddrs(list);
    return up;
}

void writePreferences(std::filesystem::path const& home, std::string const& lines) {
    std::filesystem::create_directories(home / "config" / "zelv");
    std::ofstream(home / "config" / "zelv" / "preferences") << lines;
}

// Off the main road: the rating question, in the game over the running intro (counts met at start)
// while the window goes on drawing, gone without an answer when the window loses the focus; then
// over level01's results as the seventh finished level, with arrows held as it opens and goes,
// answered "later"; and Return held on BOARDS of the results and of the main menu.
TEST_F(AuditWalk, RatingQuestionAndReturnHeldOnBoards) {
    if (!networkUp()) GTEST_SKIP() << "no network interface: the rating question is never asked";
    {
        testing_support::TempDir home;
        writePreferences(home.path(), "kRatingPromptUseCount=7\nkRatingPromptSignificantEventCount=7\n");
        GameWindow::Options o = recording(home);
        GameWindow game(o);
        ASSERT_TRUE(game.ok()) << game.describe();
        ASSERT_TRUE(game.waitForScreen("RatingPrompt", Ms(60000))) << game.describe();
        check(game, "rating-question-at-start");
        int const drawn = readRecord(recordPath_).still;
        EXPECT_TRUE(game.waitUntil([&] { return readRecord(recordPath_).still >= drawn + 30; }, Ms(30000)))
            << "the window stopped drawing under the question";
        // Losing the focus takes it away without an answer.
        game.setFocus(false);
        EXPECT_TRUE(game.waitUntil([&] { return !shows("Rate zelv"); }, Ms(30000))) << "the question stayed up";
        std::ifstream in(home.path() / "config" / "zelv" / "preferences");
        std::string const kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(kept.find("Reminder"), std::string::npos) << kept;
        EXPECT_EQ(kept.find("Declined"), std::string::npos) << kept;
        EXPECT_TRUE(game.stop()) << game.describe();
    }

    testing_support::TempDir home;
    writePreferences(home.path(), "kRatingPromptUseCount=7\nkRatingPromptSignificantEventCount=6\n");
    GameWindow game(recordingLevel01(home));
    ASSERT_TRUE(game.ok()) << game.describe();
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    game.keyDown("Right");
    game.keyDown("space");
    bool const ended = game.waitForScreen("EndOfLevelViewController", Ms(150000));
    game.keyUp("space");
    // Right, down since the level and held as the question comes: it opens on its default. (A key
    // pressed once the results are under way is a fresh press for the question.)
    if (!ended) game.keyUp("Right");
    ASSERT_TRUE(ended) << game.describe();
    auto logged = [&](char const* screen) { return game.log().find(std::string("zelv: screen ") + screen) != std::string::npos; };
    ASSERT_TRUE(game.waitUntil([&] { return logged("ResultsMenu") && logged("RatingPrompt"); }, Ms(60000)))
        << game.describe();
    check(game, "rating-question-over-results");
    // "Remind me later", the focused answer, with Down held as the question goes: NEXT keeps the
    // focus.
    std::filesystem::path const preferences = home.path() / "config" / "zelv" / "preferences";
    auto remindedLater = [&] {
        std::ifstream in(preferences);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return text.find("kRatingPromptReminderRequestDate=") != std::string::npos;
    };
    game.keyDown("Down");
    game.keyUp("Right");
    game.tap("Return");
    bool const answered = game.waitUntil(remindedLater, Ms(30000)) && game.waitUntil([&] { return !shows("Rate zelv"); }, Ms(30000));
    EXPECT_TRUE(framesPass(game, 60));
    game.keyUp("Down");
    EXPECT_TRUE(framesPass(game, 10));
    ASSERT_TRUE(answered) << game.describe();

    // Down from NEXT is BOARDS.
    game.tap("Down");
    holdEnterOnBoards(game, "boards-return-held-on-results");
    // MENU, right of RETRY; then Right from PLAY is BOARDS.
    ASSERT_TRUE(game.actUntilScreen(
        "MainMenuStartMenu", [&] { game.click(640.0f + 154.0f, 360.0f - 116.0f); }, Ms(1500), Ms(60000)))
        << game.describe();
    game.tap("Right");
    holdEnterOnBoards(game, "boards-return-held-on-main-menu");
    EXPECT_TRUE(game.stop()) << game.describe();
    EXPECT_EQ(checked_.size(), 4u);
}

// The buttons of a record (one drawn twice counted once), top row first, each row from the left.
std::vector<Box> buttonsOf(Record const& record) {
    std::vector<Box> out;
    std::set<int> seen;
    for (auto const& d : record.items)
        if (!d.text && !d.panel && seen.insert(d.id).second) out.push_back(d.box);
    std::sort(out.begin(), out.end(),
              [](Box const& a, Box const& b) { return std::pair(std::lround(a.y0), a.x0) < std::pair(std::lround(b.y0), b.x0); });
    return out;
}

// A click in the middle of a box of the record's window (the harness clicks the 1280 x 720 screen,
// y up).
void clickIn(GameWindow& game, Record const& record, Box const& b) {
    game.click((b.x0 + b.x1) / 2.0f / float(record.width) * 1280.0f,
               720.0f - (b.y0 + b.y1) / 2.0f / float(record.height) * 720.0f);
}

// The share of the pixels that differ between two pictures lying outside the boxes (give or take
// a few pixels); 1 when none differ.
double changedOutside(Picture const& a, Picture const& b, std::vector<Box> const& boxes) {
    size_t changed = 0, outside = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            size_t const i = (size_t(y) * size_t(a.width) + size_t(x)) * 3;
            if (!std::equal(&a.rgb[i], &a.rgb[i + 3], &b.rgb[i], [](uint8_t p, uint8_t q) { return std::abs(p - q) <= 48; })) {
                ++changed;
                Box const px{float(x), float(y), float(x + 1), float(y + 1)};
                outside += std::none_of(boxes.begin(), boxes.end(), [&](Box const& o) { return o.shrunk(-4).meets(px); });
            }
        }
    return changed ? double(outside) / double(changed) : 1.0;
}

// A screen smaller than the game's window (the 1024 x 600 run: a 1024 x 576 window) shows the
// same layout, smaller: the intro and the main menu pass the audit, the focus moving from PLAY to
// OPTIONS changes the picture where the record has those buttons, and a click where the record has
// the intro's SKIP and each main-menu button opens its screen.
TEST_F(AuditWalk, SmallScreenShowsTheWholeLayoutAndTakesClicksWhereItIsDrawn) {
    testing_support::TempDir home;
    GameWindow::Options o = recording(home);
    o.deadline = Ms(360000);
    GameWindow game(o);
    ASSERT_TRUE(game.ok()) << game.describe();
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    check(game, "small-intro");
    Record const intro = readRecord(recordPath_);
    ASSERT_EQ(buttonsOf(intro).size(), 1u) << "the intro's SKIP";
    ASSERT_TRUE(game.actUntilScreen("MainMenuStartMenu", [&] { clickIn(game, intro, buttonsOf(intro)[0]); },
                                    Ms(1500), Ms(60000)))
        << game.describe();

    check(game, "small-main-menu");
    Record const menu = readRecord(recordPath_);
    std::vector<Box> const buttons = buttonsOf(menu);  // CREDITS; OPTIONS, PLAY, BOARDS
    ASSERT_EQ(buttons.size(), 4u);
    Picture const playFocused = game.screenshot();
    game.tap("Left");
    check(game, "small-main-menu-options-focused");
    // Twinkling stars change a few pixels elsewhere.
    EXPECT_LT(changedOutside(playFocused, game.screenshot(), {buttons[1], buttons[2]}), 0.25)
        << "the focus moved elsewhere than the record's OPTIONS and PLAY";

    struct Opens {
        char const* screen;
        char const* back;
    } const opens[] = {{"Credits", "Escape"}, {"OptionsMenu", "Escape"}, {"LevelSelectMenu", "Escape"},
                       {"GameServicesView", "Return"}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(game.actUntilScreen(opens[i].screen, [&] { clickIn(game, menu, buttons[i]); }, Ms(1500), Ms(30000)))
            << opens[i].screen << ": " << game.describe();
        ASSERT_TRUE(game.actUntilScreen("MainMenuStartMenu", [&] { game.tap(opens[i].back); }, Ms(3000), Ms(60000)))
            << game.describe();
    }
    EXPECT_TRUE(game.stop()) << game.describe();
}

// The save a run starts from: the control scheme (1: on-screen buttons), the subtitles option and,
// with hardcoreOpen, the last level finished, so that the main menu tells once that hardcore is
// unlocked.
void writeSave(std::filesystem::path const& home, uint8_t scheme, bool subtitles, bool hardcoreOpen) {
    std::filesystem::create_directories(home / "data" / "zelv");
    setDocumentsPath((home / "data" / "zelv").string() + "/");
    RoamingDataFile file("roamingData");
    file.data.setControlScheme(scheme);
    file.data.setSubtitlesEnabled(subtitles);
    if (hardcoreOpen) file.data.levelEntry(uint32_t(LevelCatalog::count() - 1)).best() = 90000;
}

// The words painted on a menu button, found in `plain` (the button unfocused) as the pixels of its
// middle band that stand well apart from the band's commonest colour; the smallest contrast, in
// `shot`, between their average colour and each colour around them covering 8 % of the band.
double paintedWordsContrast(Picture const& plain, Picture const& shot, Box const& button) {
    float const w = button.x1 - button.x0, h = button.y1 - button.y0;
    int const x0 = int(button.x0 + w * 0.15f), x1 = int(button.x1 - w * 0.15f);
    int const y0 = int(button.y0 + h * 0.3f), y1 = int(button.y1 - h * 0.3f);
    struct Sum {
        double r = 0, g = 0, b = 0;
        int n = 0;
        void add(uint8_t const* c) { r += c[0] / 255.0, g += c[1] / 255.0, b += c[2] / 255.0, ++n; }
        double lum() const { return luminance(r / n, g / n, b / n); }
    };
    auto at = [](Picture const& p, int x, int y) { return &p.rgb[(size_t(y) * size_t(p.width) + size_t(x)) * 3]; };
    auto key = [](uint8_t const* c) { return (c[0] >> 4) << 8 | (c[1] >> 4) << 4 | (c[2] >> 4); };
    std::map<int, Sum> plainGroups;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) plainGroups[key(at(plain, x, y))].add(at(plain, x, y));
    if (plainGroups.empty()) return 0;
    double const body = std::max_element(plainGroups.begin(), plainGroups.end(), [](auto const& a, auto const& b) {
                            return a.second.n < b.second.n;
                        })->second.lum();
    Sum words;
    std::map<int, Sum> around;
    int aroundCount = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            uint8_t const* plainPixel = at(plain, x, y);
            if (contrast(luminance(plainPixel[0] / 255.0, plainPixel[1] / 255.0, plainPixel[2] / 255.0), body) >= 3.0) {
                words.add(at(shot, x, y));
            } else {
                around[key(at(shot, x, y))].add(at(shot, x, y));
                ++aroundCount;
            }
        }
    if (words.n == 0) return 0;
    double worst = 99;
    for (auto const& [k, group] : around)
        if (group.n >= aroundCount * 0.08) worst = std::min(worst, contrast(words.lum(), group.lum()));
    return worst;
}

// The machine's language variables set as given (the others unset) while it lives, as on a
// machine installed in another language; put back as they were after.
class MachineLanguage {
public:
    explicit MachineLanguage(std::map<std::string, std::string> const& set) {
        for (char const* name : names) {
            if (char const* v = std::getenv(name)) saved_[name] = v;
            auto const it = set.find(name);
            if (it != set.end()) setenv(name, it->second.c_str(), 1);
            else unsetenv(name);
        }
    }
    ~MachineLanguage() {
        for (char const* name : names) {
            auto const it = saved_.find(name);
            if (it != saved_.end()) setenv(name, it->second.c_str(), 1);
            else unsetenv(name);
        }
    }
    MachineLanguage(MachineLanguage const&) = delete;
    MachineLanguage& operator=(MachineLanguage const&) = delete;

private:
    static constexpr char const* names[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::map<std::string, std::string> saved_;
};

// The intro's subtitles on a machine set to German: in German when the game is asked for German,
// and in the English the walk reads when it is not.
TEST_F(AuditWalk, SubtitlesInTheLanguageAskedForWhateverTheMachineSpeaks) {
    MachineLanguage const german({{"LANG", "de_DE.UTF-8"}, {"LANGUAGE", "de"}, {"LC_ALL", "de_DE.UTF-8"}});
    struct Asked {
        char const* language;  // LANGUAGE given to the game; none: the walk's default
        char const* words;
    } const runs[] = {{"de", "drehte sich die große Maschine."}, {nullptr, "the great machine kept turning."}};
    for (Asked const& run : runs) {
        testing_support::TempDir home;
        writeSave(home.path(), 1, true, false);
        GameWindow::Options o = recording(home);
        if (run.language) o.env["LANGUAGE"] = run.language;
        GameWindow game(o);
        ASSERT_TRUE(game.ok()) << game.describe();
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
        ASSERT_TRUE(game.waitUntil([&] { return shows(run.words); }, Ms(60000)))
            << "no \"" << run.words << "\": " << game.describe();
        check(game, run.language ? std::string("intro-subtitles-") + run.language : "intro-subtitles-asked-by-default");
        EXPECT_TRUE(game.stop()) << game.describe();
    }
}

// Off the main road: the intro with subtitles on; the hardcore notice and a focused button's
// words through its whole pulse on the main menu; time attack and collect time, each with its
// instructions, its counters over the level, the on-screen controls and its results.
TEST_F(AuditWalk, SubtitlesNoticeFocusBonusModesAndOnScreenControls) {
    {
        testing_support::TempDir home;
        writeSave(home.path(), 1, true, true);
        GameWindow::Options o = recording(home);
        GameWindow game(o);
        ASSERT_TRUE(game.ok()) << game.describe();
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
        ASSERT_TRUE(game.waitUntil([&] { return shows("the great machine kept turning."); }, Ms(60000)))
            << "no two-line subtitle: " << game.describe();
        check(game, "intro-subtitles");
        ASSERT_TRUE(game.waitUntil([&] { return shows("One day a single cog rolled loose..."); }, Ms(60000)))
            << "no one-line subtitle: " << game.describe();
        check(game, "intro-subtitle-one-line");
        // Escape only until the intro gives way: one more could answer the notice as it comes up.
        ASSERT_TRUE(tapUntil(game, "Escape", "MainMenuLoaderViewController", Ms(60000))) << game.describe();
        ASSERT_TRUE(game.waitForScreen("ConfirmationBox", Ms(60000))) << game.describe();
        check(game, "hardcore-notice");
        auto noticeUp = [&] {
            Record const r = readRecord(recordPath_);
            return std::any_of(r.items.begin(), r.items.end(), [](Drawn const& d) { return d.panel; });
        };
        ASSERT_TRUE(noticeUp()) << game.describe();
        // Return held on well after the notice has closed: the press that answered it is no press
        // for PLAY under it (BOARDS is looked for on the main menu below).
        game.keyDown("Return");
        ASSERT_TRUE(game.waitUntil([&] { return !noticeUp(); }, Ms(30000))) << game.describe();
        long const closed = readRecord(recordPath_).frame;
        EXPECT_TRUE(game.waitUntil([&] { return readRecord(recordPath_).frame >= closed + 60; }, Ms(30000)));
        game.keyUp("Return");

        // BOARDS as drawn unfocused, then focused (Right from PLAY): its words read at every step
        // of the pulse.
        auto boards = [&] {
            Record const r = readRecord(recordPath_);
            float const sx = float(r.width) / 1280.0f, sy = float(r.height) / 720.0f;
            float const x = (640.0f + 236.0f) * sx, y = (720.0f - (360.0f - 192.0f)) * sy;
            for (auto const& d : r.items)
                if (!d.text && !d.panel && d.box.x0 < x && x < d.box.x1 && d.box.y0 < y && y < d.box.y1) return d.box;
            return Box{};
        };
        check(game, "main-menu-after-notice");
        Picture const plain = game.screenshot();
        // The backdrop moon's cream outside buttons and texts: there, and never within 24 pixels
        // of a button.
        Record const drawn = readRecord(recordPath_);
        int moon = 0, byButton = 0;
        for (int i = 0; i < plain.width * plain.height; ++i) {
            uint8_t const* p = &plain.rgb[size_t(i) * 3];
            float const x = float(i % plain.width), y = float(i / plain.width);
            Box const px{x, y, x + 1, y + 1};
            auto by = [&](float d, bool text) {
                return std::any_of(drawn.items.begin(), drawn.items.end(),
                                   [&](Drawn const& it) { return it.text == text && it.box.shrunk(-d).meets(px); });
            };
            bool const cream = std::abs(p[0] - 246) + std::abs(p[1] - 240) + std::abs(p[2] - 214) <= 30;
            if (!cream || by(2, true) || by(2, false)) continue;
            ++moon, byButton += by(24, false);
        }
        EXPECT_GT(moon, 400) << size_;
        EXPECT_EQ(byButton, 0) << "the moon shows round a button (" << size_ << ")";
        Box const button = boards();
        ASSERT_GT(button.x1, button.x0) << "no BOARDS in the record";
        game.tap("Right");
        int const from = readRecord(recordPath_).still;
        std::vector<double> seen;
        ASSERT_TRUE(game.waitUntil(
            [&] {
                seen.push_back(paintedWordsContrast(plain, game.screenshot(), button));
                return seen.size() >= 12 && readRecord(recordPath_).still > from + 60;
            },
            Ms(60000)));
        for (double c : seen) EXPECT_GE(c, 4.5) << "BOARDS focused (" << size_ << ")";
        EXPECT_TRUE(game.stop()) << game.describe();
    }

    for (std::string const level : {"levels/bonus01.pxl", "levels/bonus02.pxl"}) {
        std::string const mode = level == "levels/bonus01.pxl" ? "time-attack" : "collect-time";
        testing_support::TempDir home;
        writeSave(home.path(), 1, false, false);
        GameWindow::Options o = recording(home);
        o.args = {"--level", level};
        o.deadline = Ms(400000);
        std::optional<game_window::SoundRecording> sound;
        if (mode == "time-attack") sound.emplace(o);
        GameWindow game(o);
        ASSERT_TRUE(game.ok()) << game.describe();
        ASSERT_TRUE(game.waitForScreen("ConfirmationBox", Ms(90000))) << game.describe();
        check(game, mode + "-instructions");
        // OK with the mouse: a key would stand for a controller, which hides the on-screen controls.
        ASSERT_TRUE(game.actUntilScreen("GameViewController", [&] { game.click(640.0f, 360.0f - 175.0f); }, Ms(1500),
                                        Ms(30000)))
            << game.describe();
        // The race's music starts with the race and stops at its photo finish.
        auto logged = [&](std::string const& line) {
            return game.waitUntil([&] { return game.log().find(line) != std::string::npos; }, Ms(120000));
        };
        std::optional<game_window::SoundRecording::Mark> raceStart;
        if (sound && logged("Music: playing audio/music/Dravo_MusicTrackBonusGame01.m4a\n")) raceStart = sound->mark();
        // The counter over the level, the controls at the bottom.
        ASSERT_TRUE(game.waitUntil([&] { return shows("GO!") || shows("60") || shows("10"); }, Ms(60000)))
            << game.describe();
        check(game, mode);
        if (sound) {
            ASSERT_TRUE(raceStart && logged("Music: stopped\n")) << game.describe();
            std::vector<double> const race = sound->heardBetween(*raceStart, sound->mark(), 0.5);
            EXPECT_GE(race.size(), 55u) << "the race's music, if any, ran " << race.size() << " s";
            for (size_t i = 0; i < race.size(); ++i)
                EXPECT_GT(race[i], 0.01) << "no music " << i + 1 << " s into the race";
        }
        ASSERT_TRUE(game.waitForScreen("ResultsMenu", Ms(300000))) << game.describe();
        check(game, mode + "-results");
        EXPECT_TRUE(game.stop()) << game.describe();
    }
    EXPECT_EQ(checked_.size(), 10u);
}

// Arrows held (long enough to repeat) as each box over a page opens and goes: the hardcore notice
// and the download's no-space box over the main menu, the level select's locked-bonus hint and the
// pause menu's questions. A box opens on its default answer, the page keeps its focus, and the
// next tap acts.
TEST_F(AuditWalk, HeldArrowsMoveNoBoxNorThePageUnderIt) {
    testing_support::TempDir home;
    writeSave(home.path(), 0, false, true);
    GameWindow::Options o = recording(home);
    // A download that cannot be written past 2 MiB: out of space.
    std::filesystem::path const archive = home.path() / "pak1.pak";
    std::ofstream(archive).close();
    std::filesystem::resize_file(archive, 8u << 20);
    o.env["ZELV_PAK1_URL"] = "file://" + archive.string();
    rlimit fileSize{};
    getrlimit(RLIMIT_FSIZE, &fileSize);
    rlimit const small{2u << 20, fileSize.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    GameWindow game(o);
    setrlimit(RLIMIT_FSIZE, &fileSize);
    ASSERT_TRUE(game.ok()) << game.describe();

    auto says = [&](std::string const& part) {
        Record const r = readRecord(recordPath_);
        return std::any_of(r.items.begin(), r.items.end(), [&](Drawn const& d) { return d.words.find(part) != std::string::npos; });
    };
    // What must follow a step's taps: a box saying these words, the box gone (the screen under it
    // holding still), or a screen; a few frames when nothing is named.
    auto follows = [&](std::string const& then) {
        if (then.empty()) return framesPass(game, 10);
        if (then.starts_with("box: "))
            return game.waitForScreen("ConfirmationBox", Ms(30000)) &&
                   game.waitUntil([&] { return says(then.substr(5)); }, Ms(10000));
        if (then != "gone") return game.waitForScreen(then, Ms(60000));
        return game.waitUntil([&] {
            Record const r = readRecord(recordPath_);
            return r.still >= 30 && std::none_of(r.items.begin(), r.items.end(), [](Drawn const& d) { return d.panel; });
        }, Ms(30000));
    };
    // Each step's arrow is held from before its taps until 60 frames after what followed them. A
    // key let go and pressed again within one frame reads as held: taps are frames apart.
    struct Step {
        char const* held;
        std::vector<char const*> taps;
        std::string then;
    };
    auto walk = [&](std::vector<Step> const& steps) {
        for (Step const& s : steps) {
            if (*s.held) game.keyDown(s.held), framesPass(game, 10);
            for (char const* key : s.taps) game.tap(key), framesPass(game, 3);
            bool const followed = follows(s.then);
            if (*s.held) framesPass(game, 60), game.keyUp(s.held), framesPass(game, 10);
            if (!followed) return ::testing::AssertionFailure() << s.held << " held, then " << s.then << ": " << game.describe();
        }
        return ::testing::AssertionSuccess();
    };

    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    ASSERT_TRUE(tapUntil(game, "Escape", "MainMenuLoaderViewController", Ms(60000))) << game.describe();
    ASSERT_TRUE(game.waitForScreen("ConfirmationBox", Ms(60000))) << game.describe();
    ASSERT_TRUE(walk({{"Right", {"Return"}, "box: Not enough free space"},  // the notice goes, the download's box comes
                      {"Right", {"Return"}, "gone"},
                      {"", {"Return"}, "LevelSelectMenu"},  // PLAY kept the focus
                      {"", {"Down", "Return"}, "box: Collect more stars"},  // level01's bonus level
                      {"Down", {"Return"}, "gone"},
                      {"", {"Return"}, "box: Collect more stars"},
                      {"", {"Return"}, "gone"},
                      {"", {"Up", "Return"}, "LevelLoaderViewController<GameViewController>"}}));
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    ASSERT_TRUE(tapUntil(game, "Escape", "LevelLoaderViewController<GameViewController>", Ms(60000))) << game.describe();
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    ASSERT_TRUE(tapUntil(game, "p", "PauseViewController")) << game.describe();
    ASSERT_TRUE(game.waitUntil([&] { return readRecord(recordPath_).still >= 30; }, Ms(60000))) << game.describe();
    ASSERT_TRUE(walk({{"", {"Down", "Down"}, ""},  // RESTART
                      {"Left", {"Return"}, "box: Restart this level?"},
                      {"", {"Return"}, "gone"},  // No
                      {"", {"Return"}, "box: Restart this level?"},
                      {"Down", {"Return"}, "gone"},
                      {"", {"Return"}, "box: Restart this level?"},  // RESTART kept the focus
                      {"", {"Return"}, "gone"},
                      {"", {"Down"}, ""},  // MAIN MENU
                      {"Left", {"Return"}, "box: Quit to the main menu?"},
                      {"", {"Return"}, "gone"},
                      {"", {"Return"}, "box: Quit to the main menu?"},
                      {"", {"Left", "Escape"}, "gone"},  // Yes focused, No answered
                      {"", {"Return"}, "box: Quit to the main menu?"},
                      {"", {"Return"}, "gone"},  // No again
                      {"", {"Return"}, "box: Quit to the main menu?"},
                      {"", {"Left", "Return"}, "MainMenuLoaderViewController"}}));
    EXPECT_TRUE(game.stop()) << game.describe();
}

// Keys held as a screen takes over from another press nothing on it until let go: each arrow and
// WASD held as Escape pauses leaves the pause menu on RESUME; Right, Space, Return and Up, pressed
// after the last resume (they roll the ball) and held across level01's goal, leave the results
// on NEXT with nothing pressed.
TEST_F(AuditWalk, KeysHeldAsThePauseMenuOrTheResultsComeUpPressNothingThere) {
    testing_support::TempDir home;
    GameWindow game(recordingLevel01(home));
    ASSERT_TRUE(game.ok()) << game.describe();
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    for (char const* key : {"Down", "Up", "Left", "Right", "s", "w", "a", "d"}) {
        game.keyDown(key);
        framesPass(game, 10);
        bool const paused =
            tapUntil(game, "Escape", "PauseViewController") &&
            game.waitUntil([&] { return shows("Resume") && readRecord(recordPath_).still >= 30; }, Ms(60000));
        game.keyUp(key);
        framesPass(game, 10);
        ASSERT_TRUE(paused) << key << ": " << game.describe();
        game.tap("Return");
        ASSERT_EQ(game.nextScreen(Ms(30000)), "UnPauseViewController") << key << " held moved the focus off RESUME";
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(30000))) << game.describe();
    }
    // Pressed here, they roll the ball to the goal (within 3000 frames). Held 60 frames on the
    // results, then let go: the board then holds still for 120 frames with no screen after it.
    std::vector<char const*> const held = {"Right", "space", "Return", "Up"};
    for (char const* key : held) game.keyDown(key);
    long const start = readRecord(recordPath_).frame;
    game.waitUntil(
        [&] { return game.currentScreen() == "ResultsMenu" || readRecord(recordPath_).frame > start + 3000; },
        Ms(600000));
    bool const ended = game.waitForScreen("ResultsMenu", Ms(0)) && framesPass(game, 60);
    for (char const* key : held) game.keyUp(key);
    ASSERT_TRUE(ended) << game.describe();
    EXPECT_TRUE(game.waitUntil([&] { return readRecord(recordPath_).still >= 120; }, Ms(60000)));
    ASSERT_EQ(game.currentScreen(), "ResultsMenu") << "a held key pressed a button of the results";
    game.tap("Return");
    EXPECT_EQ(game.nextScreen(Ms(30000)), "LevelSelectMenu") << "a held key moved the focus off NEXT";
    EXPECT_TRUE(game.stop()) << game.describe();
}

// A press made as a screen changes acts on the screen that follows; a key down as the change began
// does not, though another key of its input is pressed. On the main menu: Right pressed as it
// loads, after the opening's skip and after a quit to it, moves the start menu's focus once
// (PLAY to BOARDS); BOARDS picked with Escape held shows the boards until a new Escape; D and
// Space held onto the level select, Right moves its focus (level02's tile to level01's; Down then
// is its locked bonus) and Return picks; Right tapped as the level select goes moves the start
// menu's focus. In level01: the window without the focus as the level loads, or as it comes back
// from the pause menu, finds the pause menu up; D held across a pause rolls nothing until Right
// is pressed; an arrow pressed as the pause menu goes, or during the fade back into the level,
// rolls the ball; W held as the pause menu opens, Down beside it moves the focus and letting it
// go moves nothing.
// Level01's world as a picture shows it, column by column: how many coin pixels each holds, and
// where its ground or wall starts, from the ground's commonest top (the view also rises and
// falls a little after a pause); kAbove for a wall past the top.
struct Terrain {
    static constexpr int kAbove = -100000;
    std::vector<int> coins, ground;
};

Terrain terrainOf(Picture const& p) {
    Terrain t;
    t.coins.assign(size_t(p.width), 0);
    std::vector<int> top(size_t(p.width), p.height);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            uint8_t const* c = &p.rgb[(size_t(y) * size_t(p.width) + size_t(x)) * 3];
            if (c[0] > 200 && c[1] > 170 && c[2] < 120)
                ++t.coins[size_t(x)];
            else if (top[size_t(x)] == p.height && c[0] >= 45 && c[0] <= 95 && c[1] >= 85 && c[1] <= 160 &&
                     c[2] >= 35 && c[2] <= 80)
                top[size_t(x)] = y;
        }
    std::vector<int> sorted = top;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    int const usual = sorted.empty() ? 0 : sorted[sorted.size() / 2];
    for (int y : top) t.ground.push_back(y == 0 ? Terrain::kAbove : y - usual);
    return t;
}

// The share of columns, right of the pause button, whose world differs between two pictures of
// level01: the view has moved sideways after the ball. The ball itself is neither coin nor ground.
double sidewaysChange(Picture const& a, Picture const& b) {
    if (a.width != b.width || a.width < 10) return 1.0;
    Terrain const ta = terrainOf(a), tb = terrainOf(b);
    size_t changed = 0, from = size_t(a.width) / 10;
    for (size_t x = from; x < size_t(a.width); ++x)
        if (std::abs(ta.ground[x] - tb.ground[x]) > 3 || std::abs(ta.coins[x] - tb.coins[x]) > 4) ++changed;
    return double(changed) / double(size_t(a.width) - from);
}

// Shares of level01's columns changed over 60 frames: with the ball at rest under 0.01 seen,
// rolling 0.16 and more.
constexpr double kStill = 0.03, kRolling = 0.08;

TEST_F(AuditWalk, PressesMadeAsAScreenChangesActThereAndKeysDownAsItBeganDoNot) {
    testing_support::TempDir home;
    writeSave(home.path(), 0, false, false);
    {
        RoamingDataFile file("roamingData");
        file.data.levelEntry(0).best() = 1000;  // level01 done: level02's tile has the focus
    }
    {
        GameWindow game(recording(home));
        ASSERT_TRUE(game.ok()) << game.describe();
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
        // Right pressed as the main menu loads after the skip moves the focus once: to BOARDS.
        ASSERT_TRUE(tapUntil(game, "Escape", "MainMenuLoaderViewController", Ms(60000))) << game.describe();
        ASSERT_TRUE(pressAsTheMainMenuLoads(game, "Right")) << game.describe();
        std::string const skipped = pickAndGoBack(game);
        EXPECT_EQ(skipped, "GameServicesView") << "Right pressed as the main menu loaded after the skip did not "
                                                  "move the focus to BOARDS once";
        if (skipped != "GameServicesView") game.tap("Right");
        game.keyDown("Escape");
        framesPass(game, 10);
        game.tap("Return");
        bool const opened = game.waitForScreen("GameServicesView", Ms(30000));
        bool const stayed = opened && game.waitUntil([&] { return shows("Leaderboards"); }, Ms(10000)) &&
                            framesPass(game, 60) && shows("Leaderboards");
        game.keyUp("Escape");
        EXPECT_TRUE(stayed && framesPass(game, 10) && shows("Leaderboards"))
            << "Escape held as the boards came up closed them";
        if (opened) {
            game.tap("Escape");
            ASSERT_TRUE(game.waitForScreen("MainMenuStartMenu", Ms(30000))) << "a new Escape left the boards up";
        }

        // BOARDS to OPTIONS; D, pressed there, moves to PLAY, and Space picks it.
        game.tap("Left");
        framesPass(game, 3);
        game.tap("Left");
        framesPass(game, 3);
        game.keyDown("d");
        framesPass(game, 10);
        game.keyDown("space");
        bool const select = game.waitForScreen("LevelSelectMenu", Ms(30000)) && framesPass(game, 60);
        std::string const after = game.currentScreen();
        bool const box = select && (game.tap("Right"), framesPass(game, 3)) && (game.tap("Down"), framesPass(game, 3)) &&
                         (game.tap("Return"), game.waitForScreen("ConfirmationBox", Ms(30000)));
        game.tap("Return");
        bool const picked = box && game.waitUntil([&] { return !shows("Collect more stars"); }, Ms(30000)) &&
                            framesPass(game, 30) && (game.tap("Up"), framesPass(game, 3)) &&
                            (game.tap("Return"), game.waitForScreen("LevelLoaderViewController<GameViewController>", Ms(30000)));
        game.keyUp("space");
        game.keyUp("d");
        ASSERT_TRUE(select) << game.describe();
        EXPECT_EQ(after, "LevelSelectMenu") << "Space held onto the level select picked a level";
        EXPECT_TRUE(box) << "Right did not move the focus to level01 with D held, or Return picked nothing with "
                            "Space held: " << game.describe();
        ASSERT_TRUE(picked) << game.describe();

        // Right pressed as the main menu loads after a quit to it moves the focus to BOARDS.
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
        ASSERT_TRUE(tapUntil(game, "p", "PauseViewController")) << game.describe();
        ASSERT_TRUE(game.waitUntil([&] { return shows("Resume") && readRecord(recordPath_).still >= 30; }, Ms(60000)));
        for (char const* key : {"Down", "Down", "Down", "Return"}) game.tap(key), framesPass(game, 3);
        ASSERT_TRUE(game.waitForScreen("ConfirmationBox", Ms(30000))) << game.describe();
        game.tap("Left");  // Yes
        framesPass(game, 3);
        game.tap("Return");
        ASSERT_TRUE(game.waitForScreen("MainMenuLoaderViewController", Ms(30000))) << game.describe();
        ASSERT_TRUE(pressAsTheMainMenuLoads(game, "Right")) << game.describe();
        std::string const quit = pickAndGoBack(game);
        EXPECT_EQ(quit, "GameServicesView") << "Right pressed as the main menu loaded after a quit to it did not "
                                               "move the focus to BOARDS once";
        // PLAY picked; Escape on the level select, and Right tapped at once, as its page goes: on
        // the start menu that follows the focus is on BOARDS. Again should the start menu have
        // come up before the tap ended.
        bool onBoards = quit == "GameServicesView", within = false;
        for (int attempt = 0; attempt < 3 && !within; ++attempt) {
            if (onBoards) game.tap("Left"), framesPass(game, 3);
            game.tap("Return");
            ASSERT_TRUE(game.waitForScreen("LevelSelectMenu", Ms(30000))) << game.describe();
            framesPass(game, 10);
            game.tap("Escape");
            game.tap("Right");
            within = game.currentScreen() == "LevelSelectMenu";
            ASSERT_TRUE(game.waitForScreen("MainMenuStartMenu", Ms(30000))) << game.describe();
            framesPass(game, 10);
            std::string const next = pickAndGoBack(game);
            if (within) {
                EXPECT_EQ(next, "GameServicesView") << "Right tapped as the level select went was lost";
            }
            onBoards = next == "GameServicesView";
        }
        EXPECT_TRUE(within) << "the start menu came up before Right was let go, three times";
        EXPECT_TRUE(game.stop()) << game.describe();
    }

    GameWindow game(recordingLevel01(home));
    ASSERT_TRUE(game.ok()) << game.describe();
    game.setFocus(false);
    bool const paused = game.waitForScreen("GameViewController", Ms(60000)) &&
                        game.waitForScreen("PauseViewController", Ms(30000));
    game.setFocus(true);
    EXPECT_TRUE(paused) << "level01 loaded without the focus ran on: " << game.describe();
    if (!paused) ASSERT_TRUE(tapUntil(game, "p", "PauseViewController")) << game.describe();
    auto pauseMenuUp = [&] {
        return game.waitUntil([&] { return shows("Resume") && readRecord(recordPath_).still >= 30; }, Ms(60000));
    };
    ASSERT_TRUE(pauseMenuUp()) << game.describe();
    // How much of the world the view passes over in 60 frames (it follows the ball).
    auto rolled = [&] {
        Picture const before = game.screenshot();
        framesPass(game, 60);
        return sidewaysChange(before, game.screenshot());
    };
    auto backInTheLevel = [&] {
        return game.waitForScreen("UnPauseViewController", Ms(30000)) &&
               game.waitForScreen("GameViewController", Ms(30000)) && framesPass(game, 10);
    };

    // D, down as RESUME is picked, is no press in the level; Right pressed beside it is.
    game.keyDown("d");
    framesPass(game, 10);
    game.tap("Return");
    ASSERT_TRUE(backInTheLevel()) << game.describe();
    double const heldOver = rolled();
    game.keyDown("Right");
    framesPass(game, 5);
    double const pressed = rolled();
    game.keyUp("Right");
    game.keyUp("d");
    EXPECT_LT(heldOver, kStill) << "D held across the pause rolled the ball";
    EXPECT_GT(pressed, kRolling) << "Right pressed beside a held-over D did not roll the ball";

    auto pause = [&] { return tapUntil(game, "p", "PauseViewController") && pauseMenuUp(); };
    // A pause keeps the ball's speed: a roll measured from a pause made while it still coasted the
    // other way shows little sideways change, the fewer frames it coasted (a loaded machine) the less.
    auto atRest = [&] { return game.waitUntil([&] { return rolled() < kStill; }, Ms(60000)); };
    // Left pressed as the menu goes, after Return.
    ASSERT_TRUE(atRest()) << game.describe();
    ASSERT_TRUE(pause()) << game.describe();
    game.tap("Return");
    game.keyDown("Left");
    bool const back = backInTheLevel();
    double const leaving = back ? rolled() : 0.0;
    game.keyUp("Left");
    ASSERT_TRUE(back) << game.describe();
    EXPECT_GT(leaving, kRolling) << "Left pressed as the pause menu went did not roll the ball";
    // Right pressed during the fade back into the level, after Escape; again should the fade have
    // ended before the key went down.
    bool inFade = false;
    for (int attempt = 0; attempt < 3 && !inFade; ++attempt) {
        ASSERT_TRUE(atRest()) << game.describe();
        ASSERT_TRUE(pause()) << game.describe();
        game.tap("Escape");
        bool const fading = game.waitForScreen("UnPauseViewController", Ms(30000));
        game.keyDown("Right");
        inFade = fading && game.currentScreen() == "UnPauseViewController";
        bool const played = fading && game.waitForScreen("GameViewController", Ms(30000)) && framesPass(game, 10);
        double const moved = played ? rolled() : 0.0;
        game.keyUp("Right");
        ASSERT_TRUE(played) << game.describe();
        if (inFade) EXPECT_GT(moved, kRolling) << "Right pressed during the fade did not roll the ball";
    }
    EXPECT_TRUE(inFade) << "the fade ended before Right went down, three times";

    // The focus lost as the level comes back: it pauses again at once.
    ASSERT_TRUE(pause()) << game.describe();
    game.tap("Return");
    game.setFocus(false);
    bool const again = backInTheLevel() && game.waitForScreen("PauseViewController", Ms(10000));
    game.setFocus(true);
    EXPECT_TRUE(again) << "the level resumed without the focus ran on: " << game.describe();
    ASSERT_TRUE(pauseMenuUp()) << game.describe();

    // W, down as the pause menu opens, is no press there; Down pressed beside it moves the focus
    // from RESUME to OPTIONS, and letting Down go moves nothing: Return opens the options.
    game.tap("Return");
    ASSERT_TRUE(backInTheLevel()) << game.describe();
    game.keyDown("w");
    framesPass(game, 10);
    bool const opened = pause();
    game.keyDown("Down");
    framesPass(game, 10);
    game.keyUp("Down");
    framesPass(game, 10);
    game.keyUp("w");
    framesPass(game, 10);
    ASSERT_TRUE(opened) << game.describe();
    game.tap("Return");
    EXPECT_EQ(game.nextScreen(Ms(30000)), "OptionsMenu")
        << "Down pressed beside a held-over W did not move the focus to OPTIONS, or letting it go moved it";
    EXPECT_TRUE(game.stop()) << game.describe();
}

// Each press made as a screen changes reaches the next screen once, in order: Right tapped and
// then pressed again as the main menu loads, after the opening's skip and after a quit to it,
// moves the start menu's focus twice (PLAY to BOARDS to OPTIONS); Down tapped and pressed again
// as the pause menu opens moves its focus twice (RESUME to RESTART).
TEST_F(AuditWalk, TwoPressesAsAScreenChangesActTwiceThere) {
    testing_support::TempDir home;
    auto says = [&](std::string const& part) {
        Record const r = readRecord(recordPath_);
        return std::any_of(r.items.begin(), r.items.end(), [&](Drawn const& d) { return d.words.find(part) != std::string::npos; });
    };
    auto boxSays = [&](GameWindow& game, std::string const& part) {
        return game.waitForScreen("ConfirmationBox", Ms(30000)) && game.waitUntil([&] { return says(part); }, Ms(10000));
    };
    // Right tapped, then held until the start menu has been up a while; what Return then opens.
    auto twoRightsAsTheMainMenuLoads = [&](GameWindow& game) -> std::string {
        game.tap("Right");
        framesPass(game, 3);
        game.keyDown("Right");
        bool const loading = game.currentScreen() != "MainMenuStartMenu";
        bool const up = game.waitForScreen("MainMenuStartMenu", Ms(60000)) && framesPass(game, 30);
        game.keyUp("Right");
        framesPass(game, 10);
        if (!loading) return "the start menu came up before the second Right";
        if (!up) return "no start menu after the load";
        game.tap("Return");
        std::string const opened = game.nextScreen(Ms(30000));
        EXPECT_TRUE(tapUntil(game, "Escape", "MainMenuStartMenu")) << game.describe();
        return opened;
    };
    {
        GameWindow game(recording(home));
        ASSERT_TRUE(game.ok()) << game.describe();
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
        ASSERT_TRUE(tapUntil(game, "Escape", "MainMenuLoaderViewController", Ms(60000))) << game.describe();
        EXPECT_EQ(twoRightsAsTheMainMenuLoads(game), "OptionsMenu") << "after the skip";
        EXPECT_TRUE(game.stop()) << game.describe();
    }
    GameWindow game(recordingLevel01(home));
    ASSERT_TRUE(game.ok()) << game.describe();
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    ASSERT_TRUE(tapUntil(game, "p", "PauseViewController")) << game.describe();
    game.tap("Down");
    framesPass(game, 3);
    game.keyDown("Down");
    bool const opened =
        game.waitUntil([&] { return shows("Resume") && readRecord(recordPath_).still >= 30; }, Ms(60000));
    game.keyUp("Down");
    framesPass(game, 10);
    ASSERT_TRUE(opened) << game.describe();
    game.tap("Return");
    ASSERT_TRUE(boxSays(game, "Restart this level?"))
        << "two Downs as the pause menu opened did not move the focus to RESTART: " << game.describe();
    // No (RESTART keeps the focus), then MAIN MENU and Yes.
    game.tap("Escape");
    ASSERT_TRUE(game.waitUntil([&] { return !says("Restart this level?"); }, Ms(30000))) << game.describe();
    framesPass(game, 30);
    for (char const* key : {"Down", "Return"}) game.tap(key), framesPass(game, 3);
    ASSERT_TRUE(boxSays(game, "Quit to the main menu?")) << game.describe();
    game.tap("Left");
    framesPass(game, 3);
    game.tap("Return");
    ASSERT_TRUE(game.waitForScreen("MainMenuLoaderViewController", Ms(30000))) << game.describe();
    EXPECT_EQ(twoRightsAsTheMainMenuLoads(game), "OptionsMenu") << "after a quit";
    EXPECT_TRUE(game.stop()) << game.describe();
}

// The closing cut-scene's credits, roll as they come up: every text is audited each time the
// roll has moved on a fifth of the window, until the last has been seen whole; each is seen whole
// at least once. The scene dims under them so that they read wherever they pass.
TEST_F(AuditWalk, ClosingCreditsReadWhereverTheyRoll) {
    testing_support::TempDir home;
    GameWindow::Options o = recording(home);
    o.args = {"--level", "levels/end.pxl"};
    GameWindow game(o);
    ASSERT_TRUE(game.ok()) << game.describe();
    ASSERT_TRUE(game.waitForScreen("Credits", Ms(120000))) << game.describe();
    std::set<std::string> whole;
    for (int n = 0; n < 30 && !whole.count("Thank you for playing!"); ++n) {
        long const from = readRecord(recordPath_).frame;
        // Half a pixel a frame: a fifth of the window.
        if (n > 0) {
            ASSERT_TRUE(game.waitUntil([&] { return readRecord(recordPath_).frame >= from + 288; }, Ms(60000)));
        }
        check(game, "closing-credits-" + std::to_string(n), true);
        Record const r = readRecord(recordPath_);
        for (auto const& d : r.items)
            if (d.text && d.box.inside(float(r.width), float(r.height))) whole.insert(d.words);
    }
    for (char const* words : {"zelv", "The zelv team", "Built with", "Fonts", "Thank you for playing!"})
        EXPECT_TRUE(whole.count(words)) << words << " was never seen whole";
    EXPECT_GE(whole.size(), 10u);
    EXPECT_TRUE(game.stop()) << game.describe();
}

// The audit itself, on a made-up screen: each fault it is there to find is found.
TEST(AuditRules, FindTextsOffTheWindowOverOtherThingsAndOnTheirOwnColour) {
    Picture shot;
    shot.width = 200, shot.height = 100;
    shot.rgb.assign(size_t(200 * 100 * 3), 255);  // white
    for (int y = 10; y < 30; ++y)                 // black glyphs of the first text
        for (int x = 12; x < 60; x += 4) std::fill_n(&shot.rgb[(size_t(y) * 200 + size_t(x)) * 3], 6, uint8_t(0));
    Record r;
    r.width = 200, r.height = 100;
    Drawn dark{true, 0, {10, 8, 62, 32}, 0, 0, 0, 1, "fine"};
    Drawn shadow = dark;
    shadow.box = {12, 10, 64, 34};
    r.items = {shadow, dark};
    EXPECT_TRUE(audit(r, shot).empty());

    Drawn pale{true, 0, {100, 40, 160, 60}, 0.95f, 0.95f, 0.95f, 1, "pale"};
    Drawn off{true, 0, {180, 80, 230, 95}, 0, 0, 0, 1, "off"};
    Drawn over{true, 0, {40, 20, 90, 40}, 0, 0, 0, 1, "over"};
    Drawn button{false, 3, {100, 70, 150, 99}, 0, 0, 0, 0, ""};
    Drawn onButton{true, 0, {110, 75, 140, 90}, 0, 0, 0, 1, "on"};
    Drawn own{true, 3, {110, 75, 140, 90}, 0, 0, 0, 1, "own"};
    r.items = {dark, pale, off, over, button, onButton};
    auto problems = audit(r, shot);
    auto has = [&](std::string const& part) {
        return std::any_of(problems.begin(), problems.end(),
                           [&](std::string const& p) { return p.find(part) != std::string::npos; });
    };
    EXPECT_TRUE(has("\"pale\" has a contrast")) << ::testing::PrintToString(problems);
    EXPECT_TRUE(has("\"off\" leaves the window"));
    EXPECT_TRUE(has("\"fine\" and \"over\" overlap"));
    EXPECT_TRUE(has("\"on\" lies over button 3"));
    r.items = {button, own};
    EXPECT_TRUE(audit(r, shot).empty()) << "a button's own label belongs on it";

    // A box holding texts: one well inside it, one reaching its edge; a text kept in the picture
    // behind, under a button.
    Drawn face{false, 0, {0, 0, 100, 50}, 0, 0, 0, 0, ""};
    face.panel = true;
    Drawn edge{true, 0, {8, 38, 40, 48}, 0, 0, 0, 1, "edge"};
    Drawn behind{true, 0, {105, 72, 130, 80}, 1, 1, 1, 1, "lap"};
    behind.behind = true;
    r.items = {face, dark, edge, button, behind};
    problems = audit(r, shot);
    EXPECT_TRUE(has("\"edge\" runs out of its box")) << ::testing::PrintToString(problems);
    EXPECT_FALSE(has("\"fine\" runs out"));
    EXPECT_TRUE(has("\"lap\" shows behind button 3"));
}

}  // namespace

int main(int argc, char** argv) { return testing_support::runTestsUnderXvfb(argc, argv); }

// The pause button and Space pressed as a page comes up, or as level01 fades back in from the
// pause menu, act there once it takes them: P tapped as the level select, the options or the
// boards come up goes back from them, Space tapped as the credits fade in skips them, and Escape
// tapped during the fade back into the level pauses it again. Each again should the page have
// come up before the key was let go.
TEST_F(AuditWalk, PauseOrSpacePressedAsAPageOpensOrTheLevelFadesBackActsThere) {
    testing_support::TempDir home;
    writeSave(home.path(), 0, false, false);
    {
        GameWindow game(recording(home));
        ASSERT_TRUE(game.ok()) << game.describe();
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
        ASSERT_TRUE(tapUntil(game, "Escape", "MainMenuLoaderViewController", Ms(60000))) << game.describe();
        ASSERT_TRUE(game.waitForScreen("MainMenuStartMenu", Ms(60000))) << game.describe();
        // The focus moves from where the page before left it: PLAY, OPTIONS, BOARDS, CREDITS.
        struct Page {
            std::vector<char const*> to;
            char const* screen;
            char const* key;
        };
        for (Page const& page : {Page{{}, "LevelSelectMenu", "p"}, Page{{"Left"}, "OptionsMenu", "p"},
                                 Page{{"Right", "Right"}, "GameServicesView", "p"}, Page{{"Up"}, "Credits", "space"}}) {
            for (char const* key : page.to) game.tap(key), framesPass(game, 3);
            bool within = false;
            for (int attempt = 0; attempt < 3 && !within; ++attempt) {
                framesPass(game, 10);
                game.tap("Return");
                game.tap(page.key);
                within = game.currentScreen() == "MainMenuStartMenu";
                ASSERT_TRUE(game.waitForScreen(page.screen, Ms(30000))) << game.describe();
                std::string const next = game.nextScreen(Ms(15000));
                if (within) {
                    EXPECT_EQ(next, "MainMenuStartMenu") << page.key << " tapped as " << page.screen << " came up";
                }
                if (next != "MainMenuStartMenu") {
                    ASSERT_TRUE(tapUntil(game, "Escape", "MainMenuStartMenu")) << game.describe();
                }
            }
            EXPECT_TRUE(within) << page.screen << " came up before " << page.key << " was let go, three times";
        }
        EXPECT_TRUE(game.stop()) << game.describe();
    }

    GameWindow game(recordingLevel01(home));
    ASSERT_TRUE(game.ok()) << game.describe();
    ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(60000))) << game.describe();
    ASSERT_TRUE(tapUntil(game, "p", "PauseViewController")) << game.describe();
    bool inFade = false;
    for (int attempt = 0; attempt < 3 && !inFade; ++attempt) {
        ASSERT_TRUE(game.waitUntil([&] { return shows("Resume") && readRecord(recordPath_).still >= 30; }, Ms(60000)))
            << game.describe();
        game.tap("Return");
        ASSERT_TRUE(game.waitForScreen("UnPauseViewController", Ms(30000))) << game.describe();
        game.keyDown("Escape");
        inFade = game.currentScreen() == "UnPauseViewController";
        framesPass(game, 2);
        game.keyUp("Escape");
        ASSERT_TRUE(game.waitForScreen("GameViewController", Ms(30000))) << game.describe();
        std::string const next = game.nextScreen(Ms(10000));
        if (inFade) {
            EXPECT_EQ(next, "PauseViewController") << "Escape pressed during the fade back into the level";
        }
        if (next != "PauseViewController") {
            ASSERT_TRUE(tapUntil(game, "p", "PauseViewController")) << game.describe();
        }
    }
    EXPECT_TRUE(inFade) << "the fade ended before Escape went down, three times";
    EXPECT_TRUE(game.stop()) << game.describe();
}
