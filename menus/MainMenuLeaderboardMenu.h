#pragma once
// The main menu's leaderboards: no picture of its own. Opening asks the platform to show the game
// services' boards; a signed-out player gets a box saying so. When the boards close, or the box
// has closed, it calls back to the start menu.
#include <boost/optional.hpp>

#include <cstdint>
#include <functional>

#include "menus/ConfirmationBox.h"
#include "menus/Menu.h"

namespace Fonts {
class Context;
}

class MainMenuLeaderboardMenu : public Menu {
public:
    using CloseCallback = std::function<void(bool shown)>;
    using Opener = std::function<void(CloseCallback const&)>;

    MainMenuLeaderboardMenu(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                            std::function<void()> const& back, bool withSignInPopup);
    MainMenuLeaderboardMenu(MainMenuLeaderboardMenu const&) = delete;
    MainMenuLeaderboardMenu& operator=(MainMenuLeaderboardMenu const&) = delete;

    // Each visit waits for its own close: a state left from the last visit would call back at once.
    void reset() { state_ = 0; }
    void open(Opener const& opener);
    // The platform's boards (presentGameCenter).
    static Opener gameCenterOpener();

    uint32_t state() const { return state_; }
    boost::optional<ConfirmationBox>& box() { return box_; }

    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection) override;
    void update(float dt) override;
    void preDraw() override;
    void touchMoved(glm::vec2 const& point, unsigned touch) override;
    void touchBegan(glm::vec2 const& point, unsigned touch) override;
    void touchEnded(glm::vec2 const& point, unsigned touch) override;
    void scrollPageBack() override {}
    void scrollPageForward() override {}
    void gamepadInput(GamepadState const& state) override;
    void const* inputTaker() const override { return box_ && box_->isActive() ? box_->inputTaker() : this; }
    void buttonPressed(unsigned) override {}

private:
    void leaveOrCallBack();

    uint32_t state_ = 0;
    std::function<void()> back_;
    boost::optional<ConfirmationBox> box_;
    CloseCallback onClose_;
};
