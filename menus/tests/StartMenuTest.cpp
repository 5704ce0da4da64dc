// The main menu's start page on real GL and the built data: its timers, the choice delivered once
// after the close, the hardcore button appearing when the download is mounted, logos and focus.
#include <gtest/gtest.h>

#include "level/LevelCatalog.h"
#include "fonts/TextLabel.h"
#include "graphics/ImageDecoding.h"
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

// The moon of the backdrop and the buttons (hardcore with its label too) keep apart on every shape
// of screen the game lays out: 16:9, 4:3 and 3:2.
TEST_F(StartMenu, NoButtonStandsOverTheMoon) {
    auto const file = Singleton<FileSystem>::instance().open(Assets::texMenusMainmenuMainmenuBackground.path);
    ASSERT_TRUE(file);
    Graphics::ImageInfo info;
    ASSERT_TRUE(Graphics::readImageInfo(file->data(), file->size(), info, boost::none));
    std::vector<uint8_t> rgb(size_t(info.width) * info.height * 3);
    ASSERT_TRUE(Graphics::decodeImage(file->data(), file->size(), info.width, info.height, 3, rgb.data(), rgb.size()));
    auto moonish = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= info.width || y >= info.height) return false;
        uint8_t const* p = &rgb[(size_t(y) * info.width + size_t(x)) * 3];
        return p[0] > 200 && p[1] > 190 && p[2] > 160 && p[0] > p[2] + 15;
    };
    // The moon's pixels, not the stars': each with moon three pixels away on all four sides.
    float u0 = 1, v0 = 1, u1 = 0, v1 = 0;
    for (int y = 0; y < info.height; ++y)
        for (int x = 0; x < info.width; ++x)
            if (moonish(x, y) && moonish(x - 3, y) && moonish(x + 3, y) && moonish(x, y - 3) && moonish(x, y + 3)) {
                u0 = std::min(u0, float(x - 3) / info.width), u1 = std::max(u1, float(x + 4) / info.width);
                v0 = std::min(v0, float(y - 3) / info.height), v1 = std::max(v1, float(y + 4) / info.height);
            }
    ASSERT_LT(u0, u1) << "no moon in the backdrop";

    shell_services::setDownloadState(4);
    RoamingDataFile("roamingData").data.levelEntry(uint32_t(LevelCatalog::count() - 1)).best() = 100;
    for (glm::vec2 const& screen : {glm::vec2(1280, 720), glm::vec2(1280, 960), glm::vec2(1080, 720)}) {
        platform_services::setScreenSizes(screen.x, screen.y, menus_test::kWidth, menus_test::kHeight);
        auto menu = make();
        ASSERT_TRUE(menu->isHardcoreUnlocked());
        // The backdrop fills the screen; its ripple brings a point up to 3 % further from the centre.
        glm::vec2 const centre = screen * 0.5f, lo(u0 * screen.x, (1 - v1) * screen.y);
        glm::vec2 const hi(u1 * screen.x, (1 - v0) * screen.y);
        glm::vec2 const reach = glm::max(glm::abs(lo - centre), glm::abs(hi - centre)) * 0.035f + 8.0f;
        Rect const moon(lo.x - reach.x, hi.x + reach.x, lo.y - reach.y, hi.y + reach.y);
        auto meets = [&](Rect const& r) {
            return r.minX < moon.maxX && moon.minX < r.maxX && r.minY < moon.maxY && moon.minY < r.maxY;
        };
        std::vector<Rect> boxes;
        for (size_t i = 0; i < 5; ++i) boxes.push_back(menu->button(i).button().hitRect());
        Rect const& hardcore = boxes[4];
        float const label = TextLabel(fonts->localizedString("hardcore"), glm::vec2(0.0f),
                                      fonts->font(Fonts::FontStyle::backgroundDownloader), 1, 1.0f)
                                .width();
        float const middle = (hardcore.minX + hardcore.maxX) / 2, below = (hardcore.minY + hardcore.maxY) / 2 - 85;
        boxes.emplace_back(middle - label / 2, middle + label / 2, below - 25, below + 25);
        for (Rect const& r : boxes)
            EXPECT_FALSE(meets(r)) << screen.x << " x " << screen.y << ": (" << r.minX << ", " << r.minY << ")-("
                                   << r.maxX << ", " << r.maxY << ") over the moon at (" << moon.minX << ", "
                                   << moon.minY << ")-(" << moon.maxX << ", " << moon.maxY << ")";
    }
}

}  // namespace
