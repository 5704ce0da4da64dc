// A question box whose art, fonts, sounds and hit areas are all missing (no data archive is
// mounted in this binary): the missing images count as loaded, so it still opens, answers by
// controller and closes; nothing can be touched.
#include <gtest/gtest.h>

#include "audio/tests/LoopbackDevice.h"
#include "fonts/Context.h"
#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "graphics/tests/TestImages.h"
#include "menus/ConfirmationBox.h"
#include "os/ViewController.h"
#include "os/services/PlatformServices.h"
#include "testing/GlTestContext.h"

namespace {

TEST(MissingArt, TheBoxStillOpensAnswersAndCloses) {
    testing_support::GlTestContext gl(64, 36);
    ASSERT_TRUE(gl.ok());
    gl.bindTarget();
    platform_services::setScreenSizes(1280, 720, 64, 36);
    Graphics::Context graphics(1 << 30, boost::none);
    Graphics::StandardShader shader(&graphics);
    Fonts::Context fonts(&graphics, "fonts/", "en_US");
    audio_test::LoopbackContext sound;
    glm::vec2 const offset(0);
    std::string const message = fonts.localizedString("noSuchKey"), yes = fonts.localizedString("popupAffirmative");
    EXPECT_EQ(message, "String not found");
    int answered = 0;
    ConfirmationBox box(&graphics, &sound.context, &fonts,
                        {offset, message, yes, boost::none, [&] { ++answered; }, nullptr, true});
    ASSERT_TRUE(gfx_test::loadTextures(graphics));
    EXPECT_TRUE(box.isReady());
    box.show();
    for (int i = 0; i < 100 && box.state() != ConfirmationBox::kInteractive; ++i) {
        box.update(16.0f);
        box.preDraw();
        box.draw(&graphics, &shader, screenProjection());
    }
    ASSERT_EQ(box.state(), ConfirmationBox::kInteractive);
    box.touchBegan(glm::vec2(640, 185), 1);
    box.touchEnded(glm::vec2(640, 185), 1);
    EXPECT_EQ(answered, 0);  // no hit area: nothing to touch
    box.buttonPressed(ViewController::buttonPause);
    EXPECT_EQ(answered, 1);
    box.close();
    for (int i = 0; i < 100 && box.isActive(); ++i) box.update(16.0f);
    EXPECT_FALSE(box.isActive());
}

}  // namespace
