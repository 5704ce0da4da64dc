// A steady menu frame allocates nothing: this binary counts every global operator new.
#include <gtest/gtest.h>

#include <algorithm>

#include "menus/ConfirmationBox.h"
#include "menus/tests/MenuFixture.h"
#include "menus/tests/TwelveButtonMenu.h"
#include "testing/AllocationCounter.h"

namespace {

using SteadyFrame = menus_test::MenuFixture;

TEST_F(SteadyFrame, AShownQuestionBoxAndAFocusedMenuAllocateNothing) {
    shell_services::setControllerPresent(true);  // the focus highlight pulses all along
    menus_test::TwelveButtonMenu menu(graphics.get(), audio);
    glm::vec2 const offset(0, 0);
    std::string const message = "Leave the level?\nYour progress is kept.", yes = "Yes", no = "No";
    ConfirmationBox box(graphics.get(), audio, fonts.get(),
                        {offset, message, yes, boost::optional<std::string const&>(no), [] {}, [] {}, true});
    ASSERT_TRUE(loadTextures());
    box.show();
    glm::mat4 const projection = screenProjection();
    GamepadState idle;
    auto frame = [&] {
        menu.update(16.0f);
        box.update(16.0f);
        menu.gamepadInput(idle);
        menu.preDraw();
        box.preDraw();
        menu.draw(graphics.get(), shader.get(), projection);
        box.draw(graphics.get(), shader.get(), projection);
    };
    for (int i = 0; i < 120; ++i) frame();  // everything shown and settled
    ASSERT_EQ(box.state(), ConfirmationBox::kInteractive);
    size_t const before = testing_support::allocationCount();
    for (int i = 0; i < 300; ++i) frame();
    size_t const allocated = testing_support::allocationCount() - before;
    glFinish();
    EXPECT_EQ(allocated, 0u);
    EXPECT_TRUE(menu.buttons[0]->button().isHighlighted());
}

}  // namespace
