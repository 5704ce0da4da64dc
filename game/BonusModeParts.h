#pragma once
// What the two bonus modes share: the countdown text, the tutorial popup's parameters and the
// place above the player where their text shows.
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>

#include <cstdint>
#include <functional>
#include <string>

#include "audio/Sound.h"
#include "fonts/Font.h"
#include "fonts/FontStyle.h"
#include "fonts/TextMesh.h"
#include "menus/ConfirmationBox.h"

class EventHandler;
class GameViewController;
namespace Fonts {
class Context;
}
namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

namespace bonus_mode {

inline constexpr uint32_t levelEndSignal = 20000000;
inline constexpr uint32_t holdSignal = 20000002;
inline constexpr uint32_t resumeSignal = 20000003;
// World time: three seconds counted down, one of the go text, then play.
inline constexpr float countdownEnd = 4000.0f;

// "3", "2", "1" through the first three seconds of world time, then the go text.
std::string countdownText(float t, std::string const& go);
// The decimal of a whole number of seconds, none below 0.
std::string seconds(float value);

// A localized text; without a fonts context (headless runs) the key itself.
std::string localized(Fonts::Context* fonts, char const* key);
Fonts::Font font(Fonts::Context* fonts, Fonts::FontStyle style);

// The one-button tutorial popup over a dimmed game. The texts are the caller's and must outlive
// the popup's construction.
ConfirmationBox::Parameters tutorialPopup(std::string const& message, std::string const& ok,
                                          std::function<void()> const& onOk);

// The opening both modes share, their states 0 to 2 and 4: the player's input blocked from the
// start (the countdown lets it go); on a first start the world held and, after a second of frame
// time, the tutorial popup, whose answer moves the machine to `answered`; then, on the first
// update with time running, the countdown with its sound. False for any other state: that one is
// the caller's.
namespace opening {
inline constexpr uint32_t start = 0, beforePopup = 1, popupShown = 2, waitForTime = 4, countdown = 5;
}
struct Popup {
    bool due;  // the tutorial popup on a first start, not on a restart
    ShowConfirmationBoxCallback show;
    std::string message, ok;
    float timer = 0.0f;
};
bool stepOpening(uint32_t& state, uint32_t answered, Popup& popup, GameViewController& game, float dt,
                 EventHandler* events, Sound& countdownSound);

// The screen point 80 units above the player.
glm::vec2 aboveThePlayer(GameViewController& game);

}  // namespace bonus_mode
