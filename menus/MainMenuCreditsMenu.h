#pragma once
// The main menu's credits page: the scrolling credits in white, one pixel every second frame,
// returning to the start menu at their end. A tap, A or the pause button skips while they scroll;
// A or the pause pressed as they fade in skips them once they do.
#include <functional>

#include "menus/Credits.h"
#include "menus/Menu.h"

class MainMenuCreditsMenu : public Menu {
public:
    MainMenuCreditsMenu(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                        std::function<void()> const& back);

    void reset() { credits_.reset(); }
    void open() { credits_.start(); }
    Credits& credits() { return credits_; }

    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection) override {
        credits_.draw(graphics, shader, projection);
    }
    void update(float dt) override { credits_.update(dt); }
    void preDraw() override {}
    void touchMoved(glm::vec2 const&, unsigned) override {}
    void touchBegan(glm::vec2 const&, unsigned) override {}
    void touchEnded(glm::vec2 const& point, unsigned touch) override;
    void scrollPageBack() override {}
    void scrollPageForward() override {}
    void gamepadInput(GamepadState const& state) override;
    void buttonPressed(unsigned code) override;
    void const* inputTaker() const override { return credits_.state() == Credits::kScrolling ? this : nullptr; }

private:
    void skipWhileScrolling();

    Credits credits_;
};
