#pragma once
// The options sub-menu: slides in from the right over its owner with the option widgets and a
// back button, and slides out again when the player goes back, then calls the owner's close
// callback once. Options are saved by the widgets themselves as they change.
#include <cstdint>
#include <functional>

#include "audio/Sound.h"
#include "fonts/TextMesh.h"
#include "graphics/SlideTransition.h"
#include "graphics/Sprite.h"
#include "menus/AnimatedButton.h"
#include "menus/Menu.h"
#include "menus/OptionsForeground.h"

class OptionsMenu : public Menu {
public:
    enum State : uint32_t { Idle, SlidingIn, ButtonPopIn, Active, Leaving, SlidingOut, Closed };

    OptionsMenu(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                std::function<void()> const& onClose);

    OptionsForeground& foreground() { return panel_; }
    // Re-arms after a close; only in Idle or Closed.
    void reset();
    void open();
    bool isReady() const;
    State state() const { return State(state_); }
    float slideOffset() const { return slide_.current; }
    AnimatedButton& backButton() { return back_; }

    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection) override;
    void update(float dt) override;
    void preDraw() override;
    void touchMoved(glm::vec2 const& point, unsigned touch) override;
    void touchBegan(glm::vec2 const& point, unsigned touch) override;
    void touchEnded(glm::vec2 const& point, unsigned touch) override;
    void scrollPageBack() override {}
    void scrollPageForward() override {}
    void gamepadInput(GamepadState const& state) override;
    // Nothing until the panel has slid in.
    void const* inputTaker() const override { return state_ == Active ? this : nullptr; }
    void buttonPressed(unsigned code) override;

private:
    bool goBack();
    void slideStep(float dt);

    Graphics::Context* graphics_;
    Fonts::Context* fonts_;
    Sound slideInSound_;
    Sound slideOutSound_;
    std::function<void()> onClose_;
    std::function<void()> const* pendingClose_ = nullptr;
    Sprite background_;
    uint32_t state_ = Idle;
    Fonts::TextMesh text_;
    AnimatedButton back_;
    SlideTransition slide_;
    float slideProgress_ = 0.0f;
    uint32_t slidePhase_ = 0;  // 0 built, 1 running, 2 finished
    float leaveTimer_ = 0.0f;
    OptionsForeground panel_;
};
