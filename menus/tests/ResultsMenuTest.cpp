// The results board on real GL and the built data: the state path of each mode, its timing,
// the immediate board, input only once finished, and the focus graph with and without sign-in.
#include <gtest/gtest.h>

#include <set>

#include "menus/ResultsMenu.h"
#include "menus/TriggerVariant.h"
#include "menus/tests/MenuFixture.h"
#include "os/ViewController.h"
#include "os/services/GameCenter.h"

namespace {

class Board : public menus_test::MenuFixture {
protected:
    testing_support::TempDir documents;
    int finished = 0;
    void SetUp() override {
        setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
        MenuFixture::SetUp();
    }
    std::unique_ptr<ResultsMenu> make(GameMode mode, TriggerVariant const& r, ResultsMenu::InitState init) {
        auto menu = std::make_unique<ResultsMenu>(graphics.get(), audio, fonts.get(), mode, nullptr,
                                                  "levels/level01.pxl", [] { return true; }, [] { return true; }, r);
        menu->trigger(r, [this] { ++finished; }, init);
        EXPECT_TRUE(loadTextures());
        return menu;
    }
    // The states visited until 11, and the ms from the first row to state 9.
    std::vector<uint32_t> path(ResultsMenu& menu, float* msTo9 = nullptr) {
        std::vector<uint32_t> states{menu.state()};
        float ms = 0.0f;
        for (int i = 0; i < 2000 && menu.state() != 11; ++i) {
            EXPECT_FALSE(menu.continueAction());  // nothing before the board is finished
            menu.update(16.0f);
            if (menu.state() >= 2 && menu.state() < 9) ms += 16.0f;
            if (menu.state() != states.back()) states.push_back(menu.state());
        }
        if (msTo9) *msTo9 = ms;
        return states;
    }
};

using V = std::vector<uint32_t>;

TEST_F(Board, StatePathsTimingAndTheWayOut) {
    float ms = 0.0f;
    auto normal = make(GameMode::Normal, ResultsMenu::NormalGameModeTriggerParameters(3, 3, 0, 100000.0f, 0),
                       ResultsMenu::kAnimated);
    EXPECT_EQ(normal->goalFlags(), 0x0700);
    normal->buttonPressed(ViewController::buttonPause);  // ignored before the board is finished
    EXPECT_EQ(path(*normal, &ms), (V{0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 11}));
    EXPECT_NEAR(ms, 2500.0f, 150.0f);
    frame(glm::vec4(0.0f), [&] { normal->preDraw(), normal->draw(graphics.get(), shader.get(), screenProjection()); });
    normal->buttonPressed(ViewController::buttonPause);
    EXPECT_EQ(normal->state(), 12u);
    for (int i = 0; i < 200 && normal->state() != 13; ++i) normal->update(16.0f);
    for (int i = 0; i < 10; ++i) normal->update(16.0f);
    EXPECT_EQ(normal->state(), 13u);
    EXPECT_EQ(finished, 1);

    struct Case {
        GameMode mode;
        TriggerVariant result;
        V states;
    } const cases[] = {
        {GameMode::CollectTime, ResultsMenu::CollectTimeGameModeTriggerParameters(1, 2, 90000.0f, 9), {0, 1, 2, 3, 7, 8, 9, 10, 11}},
        {GameMode::TimeAttack, ResultsMenu::TimeAttackGameModeTriggerParameters(2.5f, 4), {0, 1, 8, 9, 10, 11}},
        {GameMode::Hardcore, ResultsMenu::HardcoreGameModeTriggerParameters(3e6f), {0, 1, 8, 9, 10, 11}},
        {GameMode::Hardcore, ResultsMenu::HardcoreFailedGameModeTriggerParameters(1e5f, 3, 20), {0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 11}},
        {GameMode::Normal, ResultsMenu::NormalGameModeTriggerParameters(0, 0, 0, NAN, 0), {0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 11}},
    };
    for (auto const& c : cases) {
        auto menu = make(c.mode, c.result, ResultsMenu::kAnimated);
        EXPECT_EQ(path(*menu), c.states) << c.result.which();
    }
}

TEST_F(Board, ImmediateBoardSlidesInAndFocusFollowsSignIn) {
    auto menu = make(GameMode::Normal, ResultsMenu::NormalGameModeTriggerParameters(3, 3, 1, 500000.0f, 0),
                     ResultsMenu::kImmediate);
    menu->update(16.0f);
    EXPECT_EQ(menu->state(), 11u);
    EXPECT_EQ(menu->initState(), 3u);
    EXPECT_TRUE(menu->continueButton().popIn().animation().isHidden());
    menu->preDraw();
    EXPECT_LT(menu->slideOffset(), -100.0f);  // off to the left, coming in
    for (int i = 0; i < 100 && menu->initState() == 3; ++i) menu->update(16.0f), menu->preDraw();
    EXPECT_EQ(menu->initState(), 4u);
    EXPECT_NEAR(menu->slideOffset(), 0.0f, 1e-3f);
    EXPECT_FALSE(menu->continueButton().popIn().animation().isIdle());

    std::set<uint64_t> focused;
    for (bool signedIn : {true, false}) {
        game_center::services().setAuthenticated(signedIn);
        auto board = make(GameMode::Normal, ResultsMenu::NormalGameModeTriggerParameters(3, 3, 0, 1.0f, 0),
                          ResultsMenu::kImmediate);
        board->update(16.0f);
        for (int i = 0; i < 100 && board->initState() != 4; ++i) board->update(16.0f);
        GamepadState down;
        down.dpadY = -1.0f;
        board->gamepadInput(down);
        EXPECT_EQ(board->focus().focused(), signedIn ? 3u : 2u);
    }
    game_center::services().setAuthenticated(true);
}

}  // namespace
