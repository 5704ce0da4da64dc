// The question box: its timeline to the frame, input only while shown, answers once, and what
// it draws.
#include <gtest/gtest.h>

#include "menus/ConfirmationBox.h"
#include "menus/tests/MenuFixture.h"
#include "os/ViewController.h"

using menus_test::near;
using testing_support::rgba;

namespace {

glm::vec2 const affirmativeOfTwo(490, 185), negativeOfTwo(790, 185), affirmativeAlone(640, 185);

class Box : public menus_test::MenuFixture {
protected:
    std::unique_ptr<ConfirmationBox> make(bool twoButtons, std::string const& message = "Quit?", bool dim = true) {
        text = message;
        ConfirmationBox::Parameters p{offset,
                                      text,
                                      yes,
                                      twoButtons ? boost::optional<std::string const&>(no) : boost::none,
                                      [this] { ++affirmed; },
                                      [this] { ++denied; },
                                      dim};
        return std::make_unique<ConfirmationBox>(graphics.get(), audio, fonts.get(), p);
    }
    // Updates of dt until the box leaves its state; how many it took.
    int stay(ConfirmationBox& box, float dt = 10.0f) {
        uint32_t const s = box.state();
        for (int n = 1; n <= 1000; ++n) {
            box.update(dt);
            if (box.state() != s) return n;
        }
        return -1;
    }
    void tap(ConfirmationBox& box, glm::vec2 p) {
        box.touchBegan(p, 1);
        box.touchEnded(p, 1);
    }
    // Shown and interactive.
    void open(ConfirmationBox& box) {
        ASSERT_TRUE(loadTextures());
        box.show();
        for (int i = 0; i < 200 && box.state() != ConfirmationBox::kInteractive; ++i) box.update(16.0f);
        ASSERT_EQ(box.state(), ConfirmationBox::kInteractive);
    }

    glm::vec2 offset{0, 0};
    std::string text, yes = "Yes", no = "No";
    int affirmed = 0, denied = 0;
};

TEST_F(Box, OpensAndClosesOnTheTimelineAndStaysActiveUntilAllIsHidden) {
    auto box = make(true);
    ASSERT_TRUE(loadTextures());
    EXPECT_FALSE(box->isActive());
    box->update(10.0f);
    EXPECT_EQ(box->state(), ConfirmationBox::kHidden);
    box->show();
    EXPECT_TRUE(box->isActive());
    EXPECT_EQ(stay(*box), 1);  // the textures are there
    EXPECT_EQ(box->panel().popIn().animation().state(), PopInAnimation::kAnimating);
    EXPECT_EQ(stay(*box), 20);  // panel: 200 ms
    EXPECT_EQ(box->affirmativeButton().popIn().animation().state(), PopInAnimation::kAnimating);
    EXPECT_TRUE(box->negativeButton()->popIn().animation().isIdle());
    EXPECT_EQ(stay(*box), 10);  // affirmative: 100 ms, then the negative starts
    EXPECT_EQ(box->negativeButton()->popIn().animation().state(), PopInAnimation::kAnimating);
    int const settle = stay(*box);
    EXPECT_EQ(box->state(), ConfirmationBox::kInteractive);
    EXPECT_TRUE(box->negativeButton()->popIn().animation().isShown());
    EXPECT_GE(settle, 41);  // the negative button's own 250 + 167 ms
    EXPECT_LE(settle, 43);

    box->close();
    EXPECT_EQ(box->negativeButton()->popIn().animation().state(), PopInAnimation::kShrinking);
    EXPECT_EQ(stay(*box), 10);  // 100 ms
    EXPECT_EQ(box->affirmativeButton().popIn().animation().state(), PopInAnimation::kShrinking);
    EXPECT_EQ(stay(*box), 10);  // 100 ms
    EXPECT_EQ(box->panel().popIn().animation().state(), PopInAnimation::kShrinking);
    int n = 0;
    while (box->isActive() && n < 100) {
        box->update(10.0f);
        ++n;
        bool const allHidden = box->panel().popIn().animation().isHidden() &&
                               box->affirmativeButton().popIn().animation().isHidden() &&
                               box->negativeButton()->popIn().animation().isHidden();
        if (!allHidden) {
            EXPECT_TRUE(box->isActive()) << n;
        }
    }
    EXPECT_EQ(box->state(), ConfirmationBox::kHidden);
    EXPECT_TRUE(box->panel().popIn().animation().isHidden());
    EXPECT_TRUE(box->affirmativeButton().popIn().animation().isHidden());
    EXPECT_GE(n, 20);  // the panel's 200 ms shrink
    EXPECT_LE(n, 22);
}

TEST_F(Box, InputOnlyWhileShownAndEachAnswerOnce) {
    auto box = make(true);
    ASSERT_TRUE(loadTextures());
    box->show();
    GamepadState a;
    a.buttonA = 1;
    // Every state before interactive ignores taps, the pause button and A.
    while (box->state() != ConfirmationBox::kInteractive) {
        tap(*box, affirmativeOfTwo);
        tap(*box, negativeOfTwo);
        box->buttonPressed(ViewController::buttonPause);
        box->gamepadInput(a);
        box->gamepadInput(GamepadState());
        box->update(16.0f);
    }
    EXPECT_EQ(affirmed + denied, 0);

    // A double tap on the negative answer answers once and closes the box; nothing is taken
    // while it closes.
    tap(*box, negativeOfTwo);
    tap(*box, negativeOfTwo);
    tap(*box, affirmativeOfTwo);
    EXPECT_EQ(denied, 1);
    EXPECT_EQ(affirmed, 0);
    EXPECT_EQ(box->state(), ConfirmationBox::kClosingNegative);
    while (box->isActive()) {
        tap(*box, affirmativeOfTwo);
        box->update(16.0f);
    }
    EXPECT_EQ(affirmed, 0);

    // Shown again: the buttons were reset. The affirmative answer does not close the box; a
    // second tap on the shrunk button is ignored until the owner closes it.
    open(*box);
    tap(*box, affirmativeOfTwo);
    tap(*box, affirmativeOfTwo);
    EXPECT_EQ(affirmed, 1);
    EXPECT_EQ(box->state(), ConfirmationBox::kInteractive);
    EXPECT_EQ(box->affirmativeButton().popIn().animation().state(), PopInAnimation::kShrinking);
    box->close();
    while (box->isActive()) box->update(16.0f);

    // The controller: the pause button is the negative answer; A answers the focused button
    // (the negative one first), shrinking it as a touch does.
    open(*box);
    box->buttonPressed(ViewController::buttonBack);
    EXPECT_EQ(denied, 1);
    box->buttonPressed(ViewController::buttonPause);
    EXPECT_EQ(denied, 2);
    while (box->isActive()) box->update(16.0f);
    open(*box);
    box->gamepadInput(a);
    EXPECT_EQ(denied, 3);
    EXPECT_EQ(box->negativeButton()->popIn().animation().state(), PopInAnimation::kShrinking);
    while (box->isActive()) box->update(16.0f);
    open(*box);
    GamepadState left;
    left.dpadX = -1;
    box->gamepadInput(left);
    box->gamepadInput(a);
    EXPECT_EQ(affirmed, 2);
    EXPECT_EQ(box->affirmativeButton().popIn().animation().state(), PopInAnimation::kShrinking);

    // One button: the pause button answers affirmatively.
    auto single = make(false);
    open(*single);
    single->buttonPressed(ViewController::buttonPause);
    EXPECT_EQ(affirmed, 3);
    tap(*single, affirmativeAlone);
    EXPECT_EQ(affirmed, 3);
}

TEST_F(Box, EmptyAnswersDoNothingAndMessagesClimbWithTheirLines) {
    std::string const msg = "?", y = "OK";
    ConfirmationBox::Parameters p{offset, msg, y, boost::none, nullptr, nullptr, false};
    ConfirmationBox box(graphics.get(), audio, fonts.get(), p);
    open(box);
    box.buttonPressed(ViewController::buttonPause);  // no callback: nothing, no throw
    tap(box, affirmativeAlone);

    struct Case {
        char const* text;
        float y;
    } const cases[] = {{"One line", 35}, {"Two\nlines", 50}, {"Three\nshort\nlines", 70},
                       {"A\nB\nC\nD", 90}, {"A\nB\nC\nD\nE", 35}, {"\n\n\n\n\n\n\n\n", 35}};
    for (auto const& c : cases) EXPECT_EQ(make(true, c.text)->message().position.y, c.y) << c.text;
    EXPECT_EQ(make(true, "")->message().position, glm::vec2(0, 35));
}

TEST_F(Box, DimsTheScreenToHalfBehindThePanel) {
    auto box = make(true);
    open(*box);
    box->preDraw();
    frame(glm::vec4(1, 1, 1, 1), [&] { box->draw(graphics.get(), shader.get(), screenProjection()); });
    EXPECT_TRUE(near(at(40, 40), rgba(128, 128, 128)));
    EXPECT_TRUE(near(at(1240, 680), rgba(128, 128, 128)));
    // The panel, 640 x 460 about the centre, cream inside its wooden frame, left of the message.
    EXPECT_TRUE(near(at(350, 450), rgba(0xf6, 0xec, 0xd4), 6)) << std::hex << at(350, 450);

    // Undimmed, the screen around stays as it was.
    auto plain = make(false, "Plain", false);
    open(*plain);
    plain->preDraw();
    frame(glm::vec4(1, 1, 1, 1), [&] { plain->draw(graphics.get(), shader.get(), screenProjection()); });
    EXPECT_EQ(at(40, 40), rgba(255, 255, 255));

    // While the panel shrinks the dimming lightens with it, and nothing is drawn once hidden.
    box->close();
    for (int i = 0; i < 25; ++i) box->update(10.0f);
    float const v = box->panel().popIn().animation().value();
    ASSERT_GT(v, 0.1f);
    ASSERT_LT(v, 0.9f);
    box->preDraw();
    frame(glm::vec4(1, 1, 1, 1), [&] { box->draw(graphics.get(), shader.get(), screenProjection()); });
    EXPECT_TRUE(near(at(40, 40), rgba(uint8_t(255 * (1 - v / 2)), uint8_t(255 * (1 - v / 2)), uint8_t(255 * (1 - v / 2)))))
        << std::hex << at(40, 40);
    while (box->isActive()) box->update(10.0f);
    frame(glm::vec4(1, 1, 1, 1), [&] { box->draw(graphics.get(), shader.get(), screenProjection()); });
    EXPECT_EQ(at(40, 40), rgba(255, 255, 255));
}

}  // namespace
