// The level select on the real contexts and the built data, with a save folder of its own: the
// unlock walk, tile looks, focus, the tutorial question and its analytics, bonus achievements,
// pop-ups over the menu, content still to be downloaded and save merges.
#include <gtest/gtest.h>
#include <unistd.h>

#include "analytics/agent/Tally.h"
#include "level/LevelCatalog.h"
#include "menus/LevelSelectPage.h"
#include "menus/LevelSelectMenu.h"
#include "menus/tests/MenuFixture.h"
#include "os/MemoryMappedZipFile.h"
#include "os/ViewController.h"
#include "os/tests/ZipWriter.h"
#include "save/RoamingDataFile.h"
#include "testing/TestPaths.h"

namespace {

// Level 2's file is left out of the data this binary mounts, as if only the download brought it.
char const* const kWithheld = "levels/level02.pxl";

bool mountWithoutLevel2() {
    static bool const mounted = [] {
        MemoryMappedZipFile const pak((testing_support::binaryDir() / "pak0.pak").string());
        std::vector<ziptest::Entry> entries;
        for (auto const& [name, where] : pak.entries()) {
            if (name == kWithheld) continue;
            auto const f = pak.open(name);
            entries.emplace_back(name, std::string(reinterpret_cast<char const*>(f->data()), size_t(f->size())));
        }
        if (entries.empty()) return false;
        auto const zip = std::filesystem::temp_directory_path() / ("zelv-levelselect-" + std::to_string(getpid()) + ".zip");
        ziptest::writeFile(zip, ziptest::build(entries));
        bool const ok = menus_test::mountData(zip);
        std::filesystem::remove(zip);
        return ok;
    }();
    return mounted;
}

class LevelSelect : public menus_test::MenuFixture {
protected:
    void SetUp() override {
        setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
        ASSERT_TRUE(mountWithoutLevel2());
        Tally::reset();
        Tally::setRecordingEvents(true);
        MenuFixture::SetUp();
    }
    // The analytics events logged so far whose names start with prefix.
    static std::vector<std::string> logged(std::string const& prefix) {
        std::vector<std::string> names;
        for (auto const& e : Tally::events())
            if (e.name.rfind(prefix, 0) == 0) names.push_back(e.name);
        return names;
    }
    void save(std::vector<std::pair<uint32_t, uint8_t>> const& entries) {
        RoamingDataFile file("roamingData");
        for (auto [level, flags] : entries) file.data.levelEntry(level).goalFlags() = flags;
    }
    std::unique_ptr<LevelSelectMenu> make(boost::optional<unsigned long> selected = boost::none) {
        return std::make_unique<LevelSelectMenu>(
            graphics.get(), audio, fonts.get(), [this] { ++backs; },
            [this](std::string const& path, std::string const&, bool, bool skip, bool) { started.push_back({path, skip}); },
            selected);
    }
    void frames(LevelSelectMenu& m, int n) {
        for (int i = 0; i < n; ++i) m.update(16.0f), m.preDraw();
    }
    template <class Done>
    void until(LevelSelectMenu& m, Done done) {
        for (int i = 0; i < 400 && !done(); ++i) frames(m, 1);
    }
    void open(LevelSelectMenu& m) {
        m.open();
        ASSERT_TRUE(loadTextures());
        until(m, [&] { return m.state() == 5; });
        ASSERT_EQ(m.state(), 5u);
    }
    // A tap on a tile of page p at its place on screen.
    void tap(LevelSelectMenu& m, size_t p, LevelTileButton const& tile) {
        auto const& e = LevelCatalog::entry(tile.catalogIndex());
        glm::vec2 const at(640.0f + e.mapX + 800.0f * float(p) + m.scroller().offset(), 360.0f + e.mapY);
        m.touchBegan(at, 1);
        m.touchEnded(at, 1);
    }
    void press(LevelSelectMenu& m, float dx, bool b = false) {
        m.gamepadInput(GamepadState{dx, 0, 0, 0, 0, uint8_t(b)});
        m.gamepadInput(GamepadState{});
    }

    testing_support::TempDir documents;
    std::vector<std::pair<std::string, bool>> started;  // path, skip tutorial
    int backs = 0;
};

TEST_F(LevelSelect, AFreshSaveAsksTheTutorialQuestionAndThePauseButtonAnswersOnlyThePopUp) {
    auto m = make();
    auto& pages = m->pages();
    ASSERT_EQ(pages.size(), 5u);
    ASSERT_EQ(pages[0].tiles.size(), 2u);  // level 1 and the locked bonus A
    EXPECT_TRUE(pages[0].tiles[0].isHighlighted());
    ASSERT_TRUE(pages[0].tiles[1].starSlots() && pages[0].tiles[1].counter());
    EXPECT_EQ(pages[0].tiles[1].counter()->text(), "0" + fonts->localizedString("slash") + "3");
    EXPECT_TRUE(pages[1].tiles.size() == 1 && pages[3].tiles.size() == 1 && pages[4].tiles.empty());
    tap(*m, 0, pages[0].tiles[0]);  // not interactive yet
    EXPECT_TRUE(started.empty());

    open(*m);
    press(*m, -1.0f);  // left of the first level wraps to the newest main level: itself
    EXPECT_EQ(m->focus().focused(), 0u);
    tap(*m, 0, m->pages()[0].tiles[1]);  // locked bonus: the hint, the tile stays usable
    EXPECT_TRUE(m->bonusHintBox().isActive());
    EXPECT_FALSE(m->pages()[0].tiles[1].button().button().isActivated());
    until(*m, [&] { return m->bonusHintBox().state() == ConfirmationBox::kInteractive; });
    m->buttonPressed(ViewController::buttonPause);  // answers the hint only
    until(*m, [&] { return m->bonusHintBox().isHidden(); });
    EXPECT_EQ(m->state(), 5u);

    tap(*m, 0, m->pages()[0].tiles[0]);
    ASSERT_TRUE(m->tutorialBox().isActive() && started.empty());
    EXPECT_FALSE(m->pages()[0].tiles[0].button().button().isActivated());
    until(*m, [&] { return m->tutorialBox().state() == ConfirmationBox::kInteractive; });
    m->buttonPressed(ViewController::buttonPause);  // "no", and the menu does not slide out
    EXPECT_NE(m->state(), 7u);
    until(*m, [&] { return !started.empty(); });
    tap(*m, 0, m->pages()[0].tiles[0]);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_TRUE(started[0] == std::make_pair(std::string("levels/level01_intro.pxl"), true) && m->state() == 6 && backs == 0);
    EXPECT_EQ(logged("TUTORIAL_"), std::vector<std::string>{"TUTORIAL_NO"});

    // "Yes" keeps the tutorial.
    auto y = make();
    open(*y);
    tap(*y, 0, y->pages()[0].tiles[0]);
    until(*y, [&] { return y->tutorialBox().state() == ConfirmationBox::kInteractive; });
    y->tutorialBox().affirmativeButton().button().activate();
    until(*y, [&] { return started.size() == 2; });
    ASSERT_EQ(started.size(), 2u);
    EXPECT_TRUE(started[1] == std::make_pair(std::string("levels/level01_intro.pxl"), false) && y->state() == 6);
    EXPECT_EQ(logged("TUTORIAL_"), (std::vector<std::string>{"TUTORIAL_NO", "TUTORIAL_YES"}));
    EXPECT_TRUE(logged("ACHIEVEMENT_").empty());
}

TEST_F(LevelSelect, ProgressUnlocksLevelsAndBonusesAMergeRebuildsAndFocusScrollsToItsPage) {
    // Goals 5 (left and right stars), 0, 9 (bit 3 ignored) and 0: three stars unlock bonus A.
    // An entry far past the catalog is ignored.
    save({{0, 5}, {1, 0}, {2, 9}, {3, 2}, {100000, 7}});
    auto m = make();
    auto& p0 = m->pages()[0].tiles;
    ASSERT_EQ(p0.size(), 5u);
    auto stars = [&](size_t t) { return bool(p0[t].star(0)) + 2 * bool(p0[t].star(1)) + 4 * bool(p0[t].star(2)); };
    EXPECT_TRUE(p0[0].starSlots() && p0[1].starSlots() && stars(0) == 5 && stars(1) == 0 && stars(2) == 1);
    EXPECT_FALSE(p0[4].counter() || p0[4].starSlots());  // bonus A open: 4 of 3 stars
    EXPECT_EQ(logged("ACHIEVEMENT_"), std::vector<std::string>{"ACHIEVEMENT_16"});
    ASSERT_EQ(m->pages()[1].tiles.size(), 2u);  // level 5, newest, and the locked bonus B
    EXPECT_TRUE(m->pages()[1].tiles[0].isHighlighted());
    EXPECT_FLOAT_EQ(m->scroller().offset(), -800.0f);
    EXPECT_EQ(m->focus().focused(), 5u);

    open(*m);
    for (int i = 0; i < 4; ++i) press(*m, -1.0f);  // to level 1: the pages ease over
    EXPECT_EQ(m->focus().focused(), 0u);
    frames(*m, 120);
    EXPECT_EQ(m->scroller().currentPage(), 0);
    press(*m, -1.0f);  // wraps to the newest main level, on page 2
    EXPECT_EQ(m->focus().focused(), 5u);
    frames(*m, 120);
    EXPECT_EQ(m->scroller().currentPage(), -1);

    save({{5, 1}});  // a cloud merge lands level 5
    frames(*m, 1);
    ASSERT_EQ(m->pages()[1].tiles.size(), 3u);
    EXPECT_TRUE(m->pages()[1].tiles[1].isHighlighted());
    // A fling far past the last page lights the last dot, not one past the row.
    m->scroller().setOffset(-9000.0f);
    m->preDraw();
    EXPECT_EQ(m->pageIndicators().back().selected(), 1u);

    press(*m, 0.0f, true);  // B slides the menu out; back runs once it is closed
    EXPECT_EQ(m->state(), 7u);
    frames(*m, 300);
    EXPECT_TRUE(m->state() == 8 && backs == 1);

    // With on-screen buttons level 1 asks nothing.
    RoamingDataFile(std::string("roamingData")).data.setControlScheme(1);
    auto s = make();
    open(*s);
    tap(*s, 0, s->pages()[0].tiles[0]);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_TRUE(started[0] == std::make_pair(std::string("levels/level01_intro.pxl"), false) && s->state() == 6);
    EXPECT_TRUE(s->pages()[0].tiles[0].button().button().isActivated());  // spent
}

TEST_F(LevelSelect, EverythingDoneReportsEachBonusOnceAndAbsentContentOpensTheDownloaderBox) {
    std::vector<std::pair<uint32_t, uint8_t>> all;
    for (uint32_t i = 0; i < LevelCatalog::count(); ++i) all.push_back({i, 7});
    save(all);
    auto m = make();
    // Acts 1 to 4 each report their bonus once per build; act 5 has none.
    EXPECT_EQ(logged("ACHIEVEMENT_"),
              (std::vector<std::string>{"ACHIEVEMENT_16", "ACHIEVEMENT_17", "ACHIEVEMENT_18", "ACHIEVEMENT_19"}));
    open(*m);
    auto& level2 = m->pages()[0].tiles[1];
    ASSERT_EQ(level2.catalogIndex(), 1u);
    tap(*m, 0, level2);  // its file is not there yet: the downloader box, nothing started
    EXPECT_TRUE(m->downloaderBox().isActive() && started.empty() && m->state() == 5);
    EXPECT_FALSE(level2.button().button().isActivated());
    until(*m, [&] { return m->downloaderBox().state() == ConfirmationBox::kInteractive; });
    m->downloaderBox().affirmativeButton().button().activate();
    until(*m, [&] { return m->downloaderBox().isHidden(); });
    EXPECT_TRUE(m->downloaderBox().isHidden() && started.empty() && m->state() == 5);

    tap(*m, 0, m->pages()[0].tiles[2]);  // level 3 is there and starts with its intro
    ASSERT_EQ(started.size(), 1u);
    EXPECT_TRUE(started[0] == std::make_pair(std::string("levels/level03_intro.pxl"), false) && m->state() == 6);
    EXPECT_TRUE(logged("TUTORIAL_").empty());
}

// A locked bonus on a page at the side, whose act name is faded out, keeps its counter's white
// words on its star plate.
TEST_F(LevelSelect, ASidePagesLockedBonusShowsItsStarCounter) {
    RoamingData const fresh(false);
    LevelSelectPage const side = levelSelectItems(graphics.get(), audio, fonts.get(), {}, {}, '2', fresh, {});
    ASSERT_TRUE(loadTextures());
    frame(glm::vec4(0.0f), [&] { side.draw(graphics.get(), shader.get(), screenProjection(), 1.0f, 0.0f); });
    auto const& bonus = LevelCatalog::entry(side.tiles.back().catalogIndex());
    int white = 0;
    for (float dx = -24.0f; dx <= 24.0f; dx += 4.0f)
        for (float dy = 2.0f; dy <= 18.0f; dy += 4.0f)
            white += menus_test::near(at(657.0f + bonus.mapX + dx, 297.0f + bonus.mapY + dy), ~0u, 65);
    EXPECT_GT(white, 2) << "an empty star plate";
}

}  // namespace
