// The main menu's start page on real GL and the built data: its timers, the choice delivered once
// after the close, the hardcore button appearing when the download is mounted, logos and focus.
#include <gtest/gtest.h>

#include "level/LevelCatalog.h"
#include "menus/MainMenuStartMenu.h"
#include "menus/tests/MenuFixture.h"
#include "os/Assets.h"
#include "save/RoamingDataFile.h"

namespace {

class StartMenu : public menus_test::MenuFixture {
protected:
    testing_support::TempDir documents;
    std::vector<MainMenuStartMenu::Choice> choices;
    int hardcoreRuns = 0;
    void SetUp() override {
        setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
        shell_services::setDownloadState(0);
        MenuFixture::SetUp();
    }
    std::unique_ptr<MainMenuStartMenu> make() {
        auto menu = std::make_unique<MainMenuStartMenu>(
            graphics.get(), audio, fonts.get(), [this](MainMenuStartMenu::Choice c) { choices.push_back(c); },
            [this](std::string const& path, std::string const&, bool restart, bool skip, bool hardcore) {
                hardcoreRuns += path == "levels/level01.pxl" && !restart && skip && hardcore;
            });
        EXPECT_TRUE(loadTextures());
        return menu;
    }
    // Updates of 10 ms until the state changes.
    static int stay(MainMenuStartMenu& menu) {
        uint32_t const s = menu.state();
        for (int n = 1; n <= 500; ++n) {
            menu.update(10.0f);
            if (menu.state() != s) return n;
        }
        return -1;
    }
};

TEST_F(StartMenu, TimersChoiceAndHardcoreArrival) {
    auto menu = make();
    menu->open();
    EXPECT_EQ(stay(*menu), 16);  // 150 ms, strictly passed
    EXPECT_EQ(stay(*menu), 16);
    EXPECT_GT(stay(*menu), 0);
    ASSERT_EQ(menu->state(), 4u);
    EXPECT_FALSE(menu->isHardcoreUnlocked());
    GamepadState down;
    down.dpadY = -1.0f;
    menu->gamepadInput(down);  // from play, down leads to credits without hardcore
    EXPECT_EQ(menu->focus().focused(), 3u);

    // The last level done, then the download finishing while the menu is open.
    RoamingDataFile("roamingData").data.levelEntry(uint32_t(LevelCatalog::count() - 1)).best() = 100;
    menu->update(10.0f);
    EXPECT_FALSE(menu->isHardcoreUnlocked());
    shell_services::setDownloadState(4);
    menu->update(10.0f);
    EXPECT_TRUE(menu->isHardcoreUnlocked());
    EXPECT_EQ(menu->focus().focused(), 2u);
    menu->gamepadInput(GamepadState{});
    menu->gamepadInput(down);
    EXPECT_EQ(menu->focus().focused(), 4u);
    EXPECT_TRUE(menu->button(4).button().activate());
    EXPECT_EQ(hardcoreRuns, 1);
    EXPECT_EQ(menu->state(), 4u);

    EXPECT_TRUE(menu->button(2).button().activate());
    EXPECT_FALSE(menu->button(0).button().activate());  // the choice is taken
    EXPECT_EQ(stay(*menu), 11);                           // 100 ms
    EXPECT_EQ(stay(*menu), 14);                           // 130 ms
    EXPECT_GT(stay(*menu), 0);
    EXPECT_TRUE(choices.empty());
    frame(glm::vec4(0.0f), [&] { menu->preDraw(), menu->draw(graphics.get(), shader.get(), screenProjection()); });
    for (int i = 0; i < 5; ++i) menu->update(10.0f);
    EXPECT_EQ(choices, std::vector<MainMenuStartMenu::Choice>{MainMenuStartMenu::Play});

    EXPECT_EQ(&MainMenuStartMenu::logoFor("zh_TW"), &Assets::texMenusMainmenuVastellogoZhTW);
    EXPECT_EQ(&MainMenuStartMenu::logoFor("ja_JP"), &Assets::texMenusMainmenuVastellogoJaJP);
    EXPECT_EQ(&MainMenuStartMenu::logoFor("en_US"), &Assets::texMenusMainmenuVastellogo);
}

}  // namespace
