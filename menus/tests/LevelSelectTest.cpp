// The level select on the real contexts and the built data, with a save folder of its own: the
// unlock walk, tile looks, focus, the tutorial question, pop-ups over the menu and save merges.
#include <gtest/gtest.h>

#include <filesystem>

#include "level/LevelCatalog.h"
#include "menus/LevelSelectMenu.h"
#include "menus/tests/MenuFixture.h"
#include "os/ViewController.h"
#include "save/RoamingDataFile.h"
#include "testing/TestPaths.h"

namespace {

struct Started {
    std::string path;
    bool skip = false;
};

class LevelSelect : public menus_test::MenuFixture {
protected:
    void SetUp() override {
        setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
        MenuFixture::SetUp();
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
        for (int i = 0; i < n; ++i) {
            m.update(16.0f);
            m.preDraw();
        }
    }
    void open(LevelSelectMenu& m) {
        m.open();
        ASSERT_TRUE(loadTextures());
        for (int i = 0; i < 400 && m.state() != 5; ++i) frames(m, 1);
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
        GamepadState s;
        s.dpadX = dx;
        s.buttonB = b;
        m.gamepadInput(s);
        m.gamepadInput(GamepadState{});
    }

    testing_support::TempDir documents;
    std::vector<Started> started;
    int backs = 0;
};

TEST_F(LevelSelect, AFreshSaveAsksTheTutorialQuestionAndThePauseButtonAnswersOnlyThePopUp) {
    auto m = make();
    auto& pages = m->pages();
    ASSERT_EQ(pages.size(), 5u);
    ASSERT_EQ(pages[0].tiles.size(), 2u);  // level 1 and the locked bonus A
    EXPECT_TRUE(pages[0].tiles[0].isHighlighted());
    auto const& bonus = pages[0].tiles[1];
    EXPECT_TRUE(bonus.starSlots() && bonus.counter());
    EXPECT_EQ(bonus.counter()->text(), "0" + fonts->localizedString("slash") + "3");
    for (size_t p = 1; p < 4; ++p) EXPECT_EQ(pages[p].tiles.size(), 1u);
    EXPECT_TRUE(pages[4].tiles.empty());
    EXPECT_EQ(m->focus().focused(), 0u);
    press(*m, -1.0f);  // not interactive yet: nothing moves
    tap(*m, 0, pages[0].tiles[0]);
    EXPECT_TRUE(started.empty());

    open(*m);
    press(*m, -1.0f);  // left of the first level wraps to the newest main level: itself
    EXPECT_EQ(m->focus().focused(), 0u);
    tap(*m, 0, m->pages()[0].tiles[1]);  // locked bonus: the hint, the tile stays usable
    EXPECT_TRUE(m->bonusHintBox().isActive());
    EXPECT_FALSE(m->pages()[0].tiles[1].button().button().isActivated());
    for (int i = 0; i < 200 && m->bonusHintBox().state() != ConfirmationBox::kInteractive; ++i) frames(*m, 1);
    m->buttonPressed(ViewController::buttonPause);  // answers the hint only
    for (int i = 0; i < 200 && m->bonusHintBox().isActive(); ++i) frames(*m, 1);
    EXPECT_EQ(m->state(), 5u);

    tap(*m, 0, m->pages()[0].tiles[0]);
    ASSERT_TRUE(m->tutorialBox().isActive());
    EXPECT_TRUE(started.empty());
    EXPECT_FALSE(m->pages()[0].tiles[0].button().button().isActivated());
    for (int i = 0; i < 200 && m->tutorialBox().state() != ConfirmationBox::kInteractive; ++i) frames(*m, 1);
    m->buttonPressed(ViewController::buttonPause);  // "no", and the menu does not slide out
    EXPECT_NE(m->state(), 7u);
    for (int i = 0; i < 200 && started.empty(); ++i) frames(*m, 1);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].path, "levels/level01_intro.pxl");
    EXPECT_TRUE(started[0].skip);
    EXPECT_EQ(m->state(), 6u);
    tap(*m, 0, m->pages()[0].tiles[0]);
    EXPECT_EQ(started.size(), 1u);
    EXPECT_EQ(backs, 0);
}

TEST_F(LevelSelect, ProgressUnlocksLevelsAndBonusesAMergeRebuildsAndFocusScrollsToItsPage) {
    // Goals 5 (left and right stars), 0, 9 (bit 3 ignored) and 0: three stars unlock bonus A.
    // An entry far past the catalog is ignored.
    save({{0, 5}, {1, 0}, {2, 9}, {3, 2}, {100000, 7}});
    auto m = make();
    auto& p0 = m->pages()[0].tiles;
    ASSERT_EQ(p0.size(), 5u);
    EXPECT_TRUE(p0[0].starSlots() && p0[0].star(0) && !p0[0].star(1) && p0[0].star(2));
    EXPECT_TRUE(p0[1].starSlots() && !p0[1].star(0) && !p0[1].star(1) && !p0[1].star(2));
    EXPECT_TRUE(p0[2].star(0) && !p0[2].star(1) && !p0[2].star(2));
    EXPECT_FALSE(p0[4].counter() || p0[4].starSlots());  // bonus A open: 4 of 3 stars
    for (auto const& t : p0) EXPECT_FALSE(t.isHighlighted());
    ASSERT_EQ(m->pages()[1].tiles.size(), 2u);  // level 5, newest, and the locked bonus B
    EXPECT_TRUE(m->pages()[1].tiles[0].isHighlighted());
    EXPECT_FLOAT_EQ(m->scroller().offset(), -800.0f);
    EXPECT_EQ(m->focus().focused(), 5u);

    open(*m);
    press(*m, -1.0f);  // level 4, on the first page: the pages ease over
    EXPECT_EQ(m->focus().focused(), 3u);
    frames(*m, 120);
    EXPECT_EQ(m->scroller().currentPage(), 0);
    for (int i = 0; i < 3; ++i) press(*m, -1.0f);
    EXPECT_EQ(m->focus().focused(), 0u);
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
    m->scroller().setOffset(0.0f);

    press(*m, 0.0f, true);  // B slides the menu out; back runs once it is closed
    EXPECT_EQ(m->state(), 7u);
    frames(*m, 300);
    EXPECT_EQ(m->state(), 8u);
    EXPECT_EQ(backs, 1);
    m->reset();
    EXPECT_EQ(m->state(), 0u);
}

TEST_F(LevelSelect, ASelectedLevelIsMarkedAndStartsAtOnceWithTheButtonScheme) {
    save({{0, 7}, {1, 7}, {2, 7}, {3, 7}, {5, 7}, {6, 7}, {7, 7}, {8, 7}, {10, 0}});
    {
        RoamingDataFile file("roamingData");
        file.data.setControlScheme(1);
    }
    auto m = make(7);
    EXPECT_FLOAT_EQ(m->scroller().offset(), -800.0f);
    int highlighted = 0;
    for (auto const& page : m->pages())
        for (auto const& t : page.tiles) highlighted += t.isHighlighted();
    EXPECT_EQ(highlighted, 1);
    EXPECT_TRUE(m->pages()[1].tiles[2].isHighlighted());
    open(*m);
    tap(*m, 0, m->pages()[0].tiles[1]);  // level 2: no question, started at once
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].path, "levels/level02.pxl");
    EXPECT_FALSE(started[0].skip);
    EXPECT_EQ(m->state(), 6u);
    EXPECT_TRUE(m->pages()[0].tiles[1].button().button().isActivated());
}

}  // namespace
