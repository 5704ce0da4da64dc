#include "game/BonusModeParts.h"


#include <cmath>
#include <limits>

#include "fonts/Context.h"
#include "game/GameViewController.h"
#include "os/EventHandler.h"

namespace bonus_mode {

bool stepOpening(uint32_t& state, uint32_t answered, Popup& popup, GameViewController& game, float dt,
                 EventHandler* events, Sound& countdownSound) {
    switch (state) {
        case opening::start:
            game.getWorld().getPlayer().blockInput(std::numeric_limits<float>::infinity());
            if (popup.due) {
                events->trigger(holdSignal);
                state = opening::beforePopup;
            } else {
                state = opening::waitForTime;
            }
            return true;
        case opening::beforePopup:
            popup.timer += dt;
            if (popup.timer > 1000.0f) {
                popup.timer = 0.0f;
                if (ControlScheme* scheme = game.getControlScheme()) scheme->reset();
                // Set first: the popup may be answered before the call returns.
                state = opening::popupShown;
                if (popup.show) popup.show(tutorialPopup(popup.message, popup.ok, [&state, answered] { state = answered; }));
            }
            return true;
        case opening::popupShown:
            return true;
        case opening::waitForTime:
            if (dt > 0.0f) {
                state = opening::countdown;
                countdownSound.play();
            }
            return true;
        default:
            return false;
    }
}

std::string countdownText(float t, std::string const& go) {
    if (t < 3000.0f) return seconds(std::floor(4.0f - t / 1000.0f));
    return go;
}

std::string seconds(float value) {
    // Also keeps a NaN or a huge value from reaching the integer conversion.
    if (!(value > 0.0f)) return "0";
    if (value > 1e9f) value = 1e9f;
    return std::to_string(static_cast<int64_t>(value));
}

std::string localized(Fonts::Context* fonts, char const* key) {
    return fonts != nullptr ? fonts->localizedString(key) : std::string(key);
}

Fonts::Font font(Fonts::Context* fonts, Fonts::FontStyle style) {
    return fonts != nullptr ? fonts->font(style) : Fonts::Font{};
}

ConfirmationBox::Parameters tutorialPopup(std::string const& message, std::string const& ok,
                                          std::function<void()> const& onOk) {
    static glm::vec2 const centre(0.0f, 0.0f);
    return ConfirmationBox::Parameters{centre, message, ok, boost::none, onOk, [] {}, true};
}

glm::vec2 aboveThePlayer(GameViewController& game) {
    World& world = game.getWorld();
    return world.getCamera().worldToScreen(glm::vec3(world.getPlayer().getPosition(), 0.0f)) + glm::vec2(0.0f, 80.0f);
}

}  // namespace bonus_mode
