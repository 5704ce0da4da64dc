// Buttons, hit areas, focus and the small widgets, on real GL with the built data archive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <fstream>

#include "fonts/Layout.h"
#include "menus/AnimatedButton.h"
#include "menus/Button.h"
#include "menus/ExpandingSprite.h"
#include "menus/FocusNavigator.h"
#include "menus/LeftRightSelector.h"
#include "menus/LoadHitRect.h"
#include "menus/PopInBurstSprite.h"
#include "menus/PopInSprite.h"
#include "menus/UVSlideLabel.h"
#include "menus/tests/MenuFixture.h"
#include "os/Assets.h"

using menus_test::near;
using testing_support::rgba;

namespace {

std::string const corners = "1 XR\n0 100 m\n100 100 L\n100 0 L\n0 0 L\n0 100 L\n";

bool isZero(Rect const& r) { return r.minX == 0 && r.maxX == 0 && r.minY == 0 && r.maxY == 0; }

TEST(HitRect, CornersGiveTheRectangleAndBadTextGivesNothing) {
    // A 100 x 100 image with its hit centre at (500, 300) is moved by (450, 250).
    Rect r = hitRectFromText("%!PS\n" + corners, glm::vec2(450, 250));
    EXPECT_EQ(r.minX, 450);
    EXPECT_EQ(r.maxX, 550);
    EXPECT_EQ(r.minY, 250);
    EXPECT_EQ(r.maxY, 350);
    // The right edge comes from the first corner line alone.
    EXPECT_EQ(hitRectFromText("1 XR\n0 100 m\n90 100 L\n100 0 L\n0 0 L\n0 100 L", glm::vec2(450, 250)).maxX, 540);
    // Windows line ends.
    EXPECT_EQ(hitRectFromText("1 XR\r\n0 100 m\r\n100 100 L\r\n100 0 L\r\n0 0 L\r\n0 100 L\r\n", glm::vec2(0)).maxY, 100);

    struct Bad {
        char const* text;
        bool malformed;
    } const bad[] = {
        {"", false},
        {"0 100 m\n100 100 L\n", false},                        // no marker
        {"1 XR \n0 100 m\n100 100 L\n100 0 L\n0 0 L\n0 100 L", false},  // not exactly the marker
        {"1 XR\n0 100 m\n100 100 L\n100 0 L\n0 0 L", true},     // four lines after it
        {"1 XR\n0 100 m\n100 100 L\n100\n0 0 L\n0 100 L", true},  // one field
        {"1 XR\n0 100 m\n100 100 L\n100 0 L\n0  0 L\n0 100 L", true},  // empty field
        {"1 XR\n0 100 m\nright 100 L\n100 0 L\n0 0 L\n0 100 L", true},
        {"1 XR\n0 100 m\n100 100 L\n100 0 L\n0 0 L\n0 1e99 L", true},  // out of float range
        {"1 XR\n0 100 m\n\n100 0 L\n0 0 L\n0 100 L", true},
    };
    for (auto const& b : bad) {
        bool malformed = !b.malformed;
        EXPECT_TRUE(isZero(hitRectFromText(b.text, glm::vec2(7, 7), &malformed))) << b.text;
        EXPECT_EQ(malformed, b.malformed) << b.text;
    }
}

TEST(HitRect, FilesMissingDamagedOrHugeGiveTheZeroRectangle) {
    testing_support::TempDir dir;
    auto write = [&](std::string const& name, std::string const& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    };
    EXPECT_EQ(loadHitRect(write("good_bb.ai", corners), glm::vec2(1, 2)).maxX, 101);
    EXPECT_TRUE(isZero(loadHitRect((dir / "missing_bb.ai").string(), glm::vec2(1, 2))));
    EXPECT_TRUE(isZero(loadHitRect(write("bad_bb.ai", "1 XR\n0 0 m\nx y\n"), glm::vec2(1, 2))));
    EXPECT_TRUE(isZero(loadHitRect(write("huge_bb.ai", corners + std::string(maxHitAreaBytes, '\n')), glm::vec2(1, 2))));
}

class Buttons : public menus_test::MenuFixture {
protected:
    // A button of the confirmation art (240 x 100, its hit area the whole image) at a place.
    Button::Parameters params(std::function<bool()> action, uint8_t clickFirst = 0, bool withBase = true) {
        return Button::Parameters{Assets::hitMenusButtonsConfirmation,
                                  click,
                                  withBase ? base : noBase,
                                  Assets::texMenusButtonsConfirmationHighlight,
                                  boost::none,
                                  boost::none,
                                  std::move(action),
                                  labelAt,
                                  0,
                                  clickFirst};
    }
    bool clicked(Button& b) { return b.clickSound() && b.clickSound()->isPlaying(); }

    boost::optional<SoundDescriptor const&> click{Assets::sndDravoMenuButtonGeneral};
    boost::optional<TextureDescriptor const&> base{Assets::texMenusButtonsConfirmationNormal};
    boost::optional<TextureDescriptor const&> noBase;
    glm::vec3 labelAt{0, -10, 0};
};

TEST_F(Buttons, TouchRulesActivationAndRefusal) {
    int runs = 0;
    bool agree = false;
    Button b(graphics.get(), audio, glm::vec2(0), glm::vec2(640, 360), params([&] {
                 ++runs;
                 return agree;
             }));
    EXPECT_EQ(b.hitRect().minX, 540);
    EXPECT_EQ(b.hitRect().maxX, 740);
    EXPECT_EQ(b.hitRect().minY, 320);
    EXPECT_EQ(b.hitRect().maxY, 400);

    // The edge misses.
    EXPECT_FALSE(b.touchBegan(glm::vec2(540, 360), 1));
    EXPECT_FALSE(b.touchBegan(glm::vec2(640, 410), 1));
    // Down inside, out, back in: no longer pressed, no activation.
    EXPECT_TRUE(b.touchBegan(glm::vec2(600, 350), 1));
    EXPECT_FALSE(b.touchMoved(glm::vec2(900, 350), 1));
    EXPECT_FALSE(b.touchMoved(glm::vec2(600, 350), 1));
    EXPECT_FALSE(b.touchEnded(glm::vec2(600, 350), 1));
    EXPECT_EQ(runs, 0);

    // A refused action releases the button, leaves it usable and plays nothing.
    EXPECT_TRUE(b.touchBegan(glm::vec2(600, 350), 1));
    EXPECT_FALSE(b.touchEnded(glm::vec2(600, 350), 1));
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(b.isPressed());
    EXPECT_FALSE(b.isActivated());
    EXPECT_FALSE(clicked(b));
    EXPECT_FALSE(b.activate());
    EXPECT_EQ(runs, 2);

    // Agreed: activated, clicked, then deaf until reset.
    agree = true;
    EXPECT_TRUE(b.touchBegan(glm::vec2(600, 350), 1));
    EXPECT_TRUE(b.touchEnded(glm::vec2(600, 350), 1));
    EXPECT_EQ(runs, 3);
    EXPECT_TRUE(clicked(b));
    EXPECT_TRUE(b.touchBegan(glm::vec2(100, 100), 1));  // the pressed flag, nothing else
    EXPECT_FALSE(b.touchEnded(glm::vec2(600, 350), 1));
    EXPECT_FALSE(b.activate());
    EXPECT_EQ(runs, 3);
    b.reset();
    EXPECT_TRUE(b.activate());
    EXPECT_EQ(runs, 4);

    // Clicking first plays even when the action refuses.
    Button first(graphics.get(), audio, glm::vec2(0), glm::vec2(640, 360), params([] { return false; }, 1));
    EXPECT_FALSE(first.activate());
    EXPECT_TRUE(clicked(first));
    // No action at all: nothing runs, nothing throws.
    Button none(graphics.get(), audio, glm::vec2(0), glm::vec2(640, 360), params(nullptr));
    EXPECT_FALSE(none.activate());
}

TEST_F(Buttons, HighlightPulseDrawsScaledHighlightOverTheBase) {
    // Sampled above the image's printed name.
    Button b(graphics.get(), audio, glm::vec2(640, 360), glm::vec2(640, 360), params([] { return true; }, 0, false));
    ASSERT_TRUE(loadTextures());
    ASSERT_TRUE(b.isReady());
    frame(glm::vec4(0, 0, 0, 1), [&] { b.draw(shader.get()); });
    EXPECT_EQ(at(560, 390), rgba(0, 0, 0));  // no base, no highlight: nothing
    b.touchBegan(glm::vec2(640, 360), 1);
    frame(glm::vec4(0, 0, 0, 1), [&] { b.draw(shader.get()); });
    uint32_t const full = at(560, 390);  // pressed: the highlight at full colour
    ASSERT_NE(full, rgba(0, 0, 0));
    b.touchMoved(glm::vec2(0, 0), 1);

    // The pulse: up at 0.0035 per ms to 1 (286 ms), then back down; without focus it fades.
    b.setHighlighted(true);
    int n = 0;
    while (b.highlight() < 1.0f && n < 100) {
        b.update(16.0f);
        ++n;
    }
    EXPECT_EQ(n, 18);
    b.update(16.0f);
    EXPECT_FLOAT_EQ(b.highlight(), 1.0f - 0.0035f * 16.0f);
    // Focused, it pulses between the floor and full: never down to the unfocused look.
    float low = 1.0f, high = 0.0f;
    for (int i = 0; i < 200; ++i) {
        b.update(16.0f);
        low = std::min(low, b.highlight());
        high = std::max(high, b.highlight());
    }
    EXPECT_FLOAT_EQ(low, Button::kFocusFloor);
    EXPECT_FLOAT_EQ(high, 1.0f);
    while (b.highlight() < 1.0f) b.update(16.0f);
    b.update(16.0f);
    b.setHighlighted(false);
    b.update(100.0f);
    float const h = b.highlight();
    EXPECT_NEAR(h, 1.0f - 0.056f - 0.2f, 1e-5f);
    frame(glm::vec4(0, 0, 0, 1), [&] { b.draw(shader.get()); });
    uint32_t const dimmed = at(560, 390);
    for (int shift = 0; shift < 24; shift += 8)
        EXPECT_NEAR(int(dimmed >> shift & 0xff), int(float(full >> shift & 0xff) * h), 3);
    EXPECT_EQ(shader->color(), glm::vec4(1.0f));  // the caller's colour is put back
}

TEST_F(Buttons, AnimatedButtonHidesUntilStartedAndTouchesAtRestSize) {
    int runs = 0;
    AnimatedButton b(graphics.get(), audio, glm::vec2(640, 360), params([&] { return ++runs, true; }));
    ASSERT_TRUE(loadTextures());
    b.preDraw();
    frame(glm::vec4(0, 0, 0, 1), [&] { b.draw(shader.get()); });
    EXPECT_EQ(at(640, 360), rgba(0, 0, 0));

    // While still small the touch area is the full rectangle.
    b.popIn().animation().start();
    for (int i = 0; i < 10; ++i) b.update(16.0f);
    ASSERT_LT(b.popIn().animation().value(), 0.8f);  // 90 px from the centre is still bare
    b.preDraw();
    frame(glm::vec4(0, 0, 0, 1), [&] { b.draw(shader.get()); });
    EXPECT_NE(at(640, 375), rgba(0, 0, 0));
    EXPECT_EQ(at(730, 360), rgba(0, 0, 0));  // not grown there yet
    EXPECT_TRUE(b.touchBegan(glm::vec2(730, 360), 1));
    EXPECT_TRUE(b.touchEnded(glm::vec2(730, 360), 1));
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(b.popIn().animation().state(), PopInAnimation::kShrinking);
}

TEST_F(Buttons, FocusMovesOncePerPushAndActivatesOncePerPress) {
    int runs[3] = {};
    std::vector<std::unique_ptr<Button>> buttons;
    for (int i = 0; i < 3; ++i)
        buttons.push_back(std::make_unique<Button>(graphics.get(), audio, glm::vec2(0), glm::vec2(200 + 300 * i, 360),
                                                   params([&runs, i] { return ++runs[i], true; })));
    // 0 - 1 across, 2 below 1.
    std::vector<FocusNavigator::Node> nodes = {
        {buttons[0].get(), boost::none, 1u, boost::none, boost::none},
        {buttons[1].get(), 0u, boost::none, boost::none, 2u},
        {buttons[2].get(), boost::none, boost::none, 1u, boost::none},
    };
    FocusNavigator focus(audio, nodes, 0, false);
    EXPECT_FALSE(buttons[0]->isHighlighted());  // no controller, no presence rule
    GamepadState s;
    auto send = [&](float lx, float ly, float dx, float dy, uint8_t a) {
        s.leftX = lx, s.leftY = ly, s.dpadX = dx, s.dpadY = dy, s.buttonA = a;
        focus.gamepadInput(s);
        return focus.focused();
    };
    EXPECT_EQ(send(0.7f, 0, 0, 0, 0), 1u);
    EXPECT_EQ(send(0.7f, 0, 0, 0, 0), 1u);   // held: no second move
    EXPECT_EQ(send(0.6f, 0, 0, 0, 0), 1u);
    EXPECT_EQ(send(-0.7f, 0, 0, 0, 0), 0u);  // crossed outward the other way
    EXPECT_EQ(send(0, 0, 1, 0, 0), 1u);      // dpad right
    EXPECT_EQ(send(0, 0, -1, 0, 0), 0u);     // straight to -1: a later press the other way
    EXPECT_EQ(send(0, 0, 1, 0, 0), 1u);
    EXPECT_EQ(send(0, 0, 0, 0, 0), 1u);
    EXPECT_TRUE(buttons[1]->isHighlighted());
    EXPECT_FALSE(buttons[0]->isHighlighted());
    EXPECT_EQ(send(0, 0, 0, -1, 0), 2u);     // down
    EXPECT_EQ(send(0, 0, 0, 0, 0), 2u);
    EXPECT_EQ(send(0, 0, 0, 1, 0), 1u);      // up
    EXPECT_EQ(send(0, 0, 0, 0, 0), 1u);
    EXPECT_EQ(send(0, 0, -1, 0, 0), 0u);     // left: nothing further left of 0 ...
    EXPECT_EQ(send(0, 0, 0, 0, 0), 0u);
    EXPECT_EQ(send(0, 0, 1, -1, 0), 2u);     // ... a diagonal moves twice: right, then down
    EXPECT_EQ(send(0, 0, 0, 0, 0), 2u);

    // A activates once per press; the next activation needs a release.
    send(0, 0, 0, 0, 1);
    send(0, 0, 0, 0, 1);
    EXPECT_EQ(runs[2], 1);
    buttons[2]->reset();
    send(0, 0, 0, 0, 1);
    EXPECT_EQ(runs[2], 1);
    send(0, 0, 0, 0, 0);
    send(0, 0, 0, 0, 1);
    EXPECT_EQ(runs[2], 2);

    // Following presence: dark without a controller, lit on the next update once one is there,
    // dark again when it goes. Without the rule the light only ever goes on.
    buttons[0]->setHighlighted(true);
    FocusNavigator following(audio, nodes, 0, true);
    EXPECT_FALSE(buttons[0]->isHighlighted());
    shell_services::setControllerPresent(true);
    following.updateHighlight();
    EXPECT_TRUE(buttons[0]->isHighlighted());
    shell_services::setControllerPresent(false);
    following.updateHighlight();
    EXPECT_FALSE(buttons[0]->isHighlighted());
    buttons[0]->setHighlighted(true);
    focus.updateHighlight();
    EXPECT_TRUE(buttons[0]->isHighlighted());

    // A focus index or a link past the buttons is ignored.
    std::vector<FocusNavigator::Node> broken = {{buttons[0].get(), 5u, 5u, 5u, 5u}};
    FocusNavigator guarded(audio, broken, 9, false);
    EXPECT_EQ(guarded.focused(), 0u);
    s = GamepadState();
    s.dpadX = 1;
    guarded.gamepadInput(s);
    EXPECT_EQ(guarded.focused(), 0u);
}

TEST_F(Buttons, SelectorMirrorsTheRightArrowsHighlightAndKeepsItsValueBetweenTheArrows) {
    Sprite background(Graphics::Texture(graphics.get(), Assets::texColorsBlack), kAnchorCenter, glm::vec2(0),
                      glm::vec2(600, 80), glm::vec2(1));
    Button left(graphics.get(), audio, glm::vec2(400, 360), glm::vec2(400, 360), params([] { return true; }));
    Button right(graphics.get(), audio, glm::vec2(880, 360), glm::vec2(880, 360), params([] { return true; }));
    std::vector<LeftRightSelector::Option> options;
    Fonts::Font const font = fonts->font(Fonts::FontStyle::regularMenu);
    options.emplace_back(TextLabel("Music", glm::vec2(640, 380), font, 1, 1), TextLabel("On", glm::vec2(640, 340), font, 1, 1));
    // A name that would run under the right arrow, and one wider than the whole room between them.
    options.emplace_back(TextLabel("Buttons", glm::vec2(705, 360), font, Fonts::alignLeft, 1),
                         TextLabel("Controls:", glm::vec2(700, 360), font, Fonts::alignRight, 1));
    options.emplace_back(TextLabel("Buttons drawn on the screen over the level", glm::vec2(650, 360), font,
                                   Fonts::alignLeft, 1),
                         TextLabel("Controls:", glm::vec2(645, 360), font, Fonts::alignRight, 1));
    LeftRightSelector row(background, std::move(left), std::move(right), std::move(options), 0, 7);
    ASSERT_TRUE(loadTextures());
    ASSERT_TRUE(row.isReady());
    auto edge = [](Quad const& q, bool right) {
        float x = q.corner(0).position.x;
        for (size_t i = 1; i < Quad::cornerCount(); ++i)
            x = right ? std::max(x, q.corner(i).position.x) : std::min(x, q.corner(i).position.x);
        return x;
    };
    float const room0 = edge(row.left().quad(), true), room1 = edge(row.right().quad(), false);
    ASSERT_LT(room0, room1);
    float widths[3] = {};
    for (uint64_t value : {1u, 2u}) {
        row.selected() = value;
        Fonts::TextMesh drawn;
        row.layoutLabels(drawn);
        Rect const box = drawn.bounds();
        EXPECT_GE(box.minX, room0) << value;
        EXPECT_LE(box.maxX, room1) << value;
        widths[value] = box.getWidth();
    }
    Fonts::TextMesh short1;
    TextLabel("Buttons", glm::vec2(705, 360), font, Fonts::alignLeft, 1).draw(short1, {}, glm::vec4(1), glm::mat4(1));
    TextLabel("Controls:", glm::vec2(700, 360), font, Fonts::alignRight, 1).draw(short1, {}, glm::vec4(1), glm::mat4(1));
    EXPECT_FLOAT_EQ(widths[1], short1.bounds().getWidth()) << "moved, not shrunk";
    EXPECT_GT(widths[2], 0.8f * (room1 - room0)) << "shrunk more than the room asks";
    // A value that fits stays where it was put.
    row.selected() = 0;
    Fonts::TextMesh fits, asPut;
    row.layoutLabels(fits);
    TextLabel("Music", glm::vec2(640, 380), font, 1, 1).draw(asPut, glm::vec2(0), glm::vec4(1), glm::mat4(1));
    EXPECT_FLOAT_EQ(fits.bounds().minX, asPut.bounds().minX);
    EXPECT_EQ(row.tag(), 7u);
    EXPECT_EQ(row.optionCount(), 3u);
    row.right().setHighlighted(true);
    row.update(100.0f);
    EXPECT_TRUE(row.left().isHighlighted());
    EXPECT_FLOAT_EQ(row.left().highlight(), 0.35f);
    Fonts::TextMesh mesh;
    row.layoutLabels(mesh);
    EXPECT_FALSE(mesh.empty());
    row.selected() = 3;  // past the end: nothing, no crash
    Fonts::TextMesh none;
    row.layoutLabels(none);
    EXPECT_TRUE(none.empty());
}

TEST_F(Buttons, ExpandingBurstAndSlideFinishOnTheirFrames) {
    auto sprite = [&] {
        return Sprite(Graphics::Texture(graphics.get(), Assets::texColorsBlack), kAnchorOrigin, glm::vec2(0),
                      glm::vec2(100, 100), glm::vec2(1));
    };
    // Reaches scale 1 at 0.002 per ms after 500 ms, and reports finished one update later; the
    // fade falls linearly from its start over the same time.
    ExpandingSprite grow(sprite(), kAnchorCenter, {0.002f, 1.0f, 0.8f}, glm::vec2(0));
    EXPECT_EQ(grow.matrix(), glm::mat4(0.0f));
    grow.update(16.0f);
    EXPECT_EQ(grow.scale(), 0.0f);  // idle until started
    grow.start();
    int n = 0;
    while (grow.scale() < 1.0f) {
        grow.update(16.0f);
        ++n;
        EXPECT_NEAR(grow.fade(), 0.8f * (1.0f - 0.032f * float(n - 1)), 1e-5f);
    }
    EXPECT_EQ(n, 32);  // 31 x 16 = 496 ms is short of 500
    EXPECT_FALSE(grow.isFinished());
    grow.update(16.0f);
    EXPECT_TRUE(grow.isFinished());
    EXPECT_NEAR(grow.fade(), 0.0f, 1e-6f);
    EXPECT_EQ(glm::vec2(grow.matrix() * glm::vec4(10, 0, 0, 1)), glm::vec2(650, 360));

    // The burst badge: finish completes both at once, the widget says so on its next update.
    PopInBurstSprite burst(PopInSprite(sprite(), PopInTransform(kAnchorCenter, glm::vec2(0), glm::vec2(0))),
                           ExpandingSprite(sprite(), kAnchorCenter, {0.002f, 1.5f, 1.0f}, glm::vec2(0)));
    burst.finish();
    EXPECT_EQ(burst.state(), PopInBurstSprite::kIdle);  // not started: nothing
    burst.start();
    burst.finish();
    EXPECT_EQ(burst.state(), PopInBurstSprite::kRunning);
    EXPECT_TRUE(burst.badge().popIn().animation().isShown());
    EXPECT_TRUE(burst.burst().isFinished());
    burst.update(16.0f);
    EXPECT_EQ(burst.state(), PopInBurstSprite::kDone);
    EXPECT_FLOAT_EQ(burst.badge().popIn().animation().value(), 1.0f);

    // The slide's label pops in once the slide's progress (before the step) passes the threshold.
    Fonts::Font const font = fonts->font(Fonts::FontStyle::regularMenu);
    UVSlideLabel label(PopInLabel("Time", PopInTransform(kAnchorNone, glm::vec2(100, 100), glm::vec2(0)), font, 0, 1),
                       UVSlideSprite(sprite(), {0.01f, 0.01f, 0.004f, -1.0f, 0.0f}), 0.5f);
    label.start();
    int frames = 0;
    while (label.state() == UVSlideLabel::kSliding) {
        label.update(16.0f);
        ++frames;
    }
    EXPECT_EQ(frames, 9);  // 8 x 0.064 = 0.512 > 0.5 is seen on the ninth update
    EXPECT_EQ(label.label().popIn().animation().state(), PopInAnimation::kAnimating);
    while (!label.slide().isFinished()) label.update(16.0f);
    EXPECT_FLOAT_EQ(label.slide().offset(), 0.0f);
    for (int i = 0; i < 100 && label.state() != UVSlideLabel::kDone; ++i) label.update(16.0f);
    EXPECT_EQ(label.state(), UVSlideLabel::kDone);
}

}  // namespace
