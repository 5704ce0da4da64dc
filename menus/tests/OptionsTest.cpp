// The options menu and its widgets on real GL and the built data, with a save file in a temporary
// folder: the slide timeline, input only while active, one close per back, and every change saved.
#include <gtest/gtest.h>

#include "menus/OptionsMenu.h"
#include "menus/tests/MenuFixture.h"
#include "os/ViewController.h"
#include "save/RoamingDataFile.h"

namespace {

using Type = OptionsForeground::OptionWidgetType;

class Options : public menus_test::MenuFixture {
protected:
    testing_support::TempDir documents;
    int closed = 0;
    void SetUp() override {
        setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
        MenuFixture::SetUp();
    }
    static RoamingData saved() { return RoamingDataFile("roamingData").data; }
    int runUntil(OptionsMenu& menu, OptionsMenu::State state) {
        for (int n = 1; n <= 500; ++n) {
            menu.update(16.0f);
            if (menu.state() == state) return n;
        }
        return -1;
    }
};

TEST_F(Options, OpenChangeAndCloseOnce) {
    RoamingDataFile("roamingData").data.setControlScheme(5);  // damaged: shows 0
    OptionsMenu menu(graphics.get(), audio, fonts.get(), [this] { ++closed; });
    ASSERT_TRUE(loadTextures());
    ASSERT_TRUE(menu.isReady());
    auto& panel = menu.foreground();
    ASSERT_EQ(panel.selectors().size(), 1u);
    ASSERT_EQ(panel.checkboxes().size(), 1u);
    EXPECT_EQ(panel.selectors()[0].selected(), 0u);
    EXPECT_TRUE(panel.checkboxes()[0].isChecked());  // a new record has subtitles on

    menu.open();  // no reset() needed after construction
    menu.buttonPressed(ViewController::buttonPause);  // ignored while sliding in
    GamepadState b;
    b.buttonB = 1;
    menu.gamepadInput(b);
    EXPECT_EQ(runUntil(menu, OptionsMenu::ButtonPopIn), 27);  // 400 ms at 16 ms, then one more update
    EXPECT_GT(runUntil(menu, OptionsMenu::Active), 0);
    menu.preDraw();
    EXPECT_NEAR(menu.slideOffset(), 0.0f, 1e-3f);

    // Each arrow press steps 0 -> 1 -> 0 and writes the save at once.
    for (bool back : {false, true, true}) {
        panel.onOptionChanged(back, 0, Type::LeftRight);
        EXPECT_EQ(saved().controlScheme(), panel.selectors()[0].selected());
    }
    EXPECT_EQ(panel.selectors()[0].selected(), 1u);
    panel.onOptionChanged(false, 1, Type::Checkbox);
    EXPECT_FALSE(saved().subtitlesEnabled());
    panel.setCheckboxState(4, true);  // no checkbox of that kind
    panel.setCheckboxState(1, false);
    EXPECT_FALSE(panel.checkboxes()[0].isChecked());
    panel.setCheckboxState(1, true);  // shown, not saved
    EXPECT_TRUE(panel.checkboxes()[0].isChecked());
    EXPECT_FALSE(saved().subtitlesEnabled());
    panel.onOptionChanged(false, 7, Type::Checkbox);  // out of range: nothing
    panel.onOptionChanged(false, 7, Type::LeftRight);

    menu.reset();  // only when idle or closed
    EXPECT_EQ(menu.state(), OptionsMenu::Active);
    menu.gamepadInput(b);  // B held: closes once
    EXPECT_EQ(menu.state(), OptionsMenu::Leaving);
    menu.gamepadInput(b);
    menu.buttonPressed(ViewController::buttonPause);
    EXPECT_GT(runUntil(menu, OptionsMenu::Closed), 9);
    EXPECT_EQ(closed, 0);
    frame(glm::vec4(0.0f), [&] { menu.preDraw(), menu.draw(graphics.get(), shader.get(), screenProjection()); });
    for (int i = 0; i < 5; ++i) menu.update(16.0f);
    EXPECT_EQ(closed, 1);
    menu.reset();
    EXPECT_EQ(menu.state(), OptionsMenu::Idle);
    menu.open();
    EXPECT_EQ(runUntil(menu, OptionsMenu::ButtonPopIn), 27);
}

TEST_F(Options, CheckboxAloneIsItsOwnNeighbour) {
    OptionsForeground panel(graphics.get(), audio, fonts.get(), 1, glm::vec2(640, 360), glm::vec2(640, 360));
    ASSERT_TRUE(panel.selectors().empty());
    ASSERT_EQ(panel.checkboxes().size(), 1u);
    for (float dpad : {1.0f, -1.0f}) {
        GamepadState s;
        s.dpadY = dpad;
        panel.gamepadInput(s);
        panel.gamepadInput(GamepadState{});
        EXPECT_EQ(panel.focus().focused(), 0u);
    }
    // A new A press on the highlighted focus button toggles once; holding does not repeat.
    shell_services::setControllerPresent(true);
    panel.update(16.0f);
    GamepadState a;
    a.buttonA = 1;
    for (int i = 0; i < 3; ++i) panel.gamepadInput(a);
    EXPECT_FALSE(panel.checkboxes()[0].isChecked());
    EXPECT_FALSE(saved().subtitlesEnabled());
}

}  // namespace
