#pragma once
// The coin race of the bonus levels: a tutorial popup on the first start, a four-second
// countdown, then ten seconds of play and one more for every coin taken. The level ends when
// the time runs out or at the goal; the time left is the result.
#include <cstdint>
#include <string>

#include "audio/Sound.h"
#include "fonts/Font.h"
#include "fonts/TextMesh.h"
#include "game/BonusModeParts.h"
#include "game/GameModeStateMachine.h"
#include "game/HudText.h"
#include "menus/ConfirmationBox.h"

class EventHandler;
namespace Audio {
class Context;
}
namespace Fonts {
class Context;
}

class CollectTimeGameModeStateMachine : public GameModeStateMachine {
public:
    enum State : uint32_t {
        kStart = 0,
        kBeforePopup = 1,
        kPopupShown = 2,
        kPopupAnswered = 3,
        kWaitForTime = 4,
        kCountdown = 5,
        kCollecting = 6,
        kFinished = 7,
    };
    // World time of the deadline without coins: the countdown and ten seconds of play.
    static constexpr float baseDeadline = 14000.0f;
    static constexpr float coinTime = 1000.0f;

    CollectTimeGameModeStateMachine(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                                    ShowConfirmationBoxCallback const& showPopup, EventHandler* events,
                                    bool showTutorialPopup);

    void update(GameViewController& game, float dt, float t) override;
    void preDraw(GameViewController& game) override;
    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader,
                     glm::mat4 const& projection) override;
    void setPaused(bool paused) override;
    bool buttonPressed(uint32_t code) override;
    bool allowsPause() const override;

    // Milliseconds of world time left at the last update; 0 once the time is up.
    float remainingTime() const { return remainingTime_; }

    uint32_t state() const { return state_; }
    std::string const& centreText() const { return centreText_; }
    float textScale() const { return textScale_; }
    HudText const& text() const { return text_; }
    Sound const& countdownSound() const { return countdownSound_; }

private:
    void collect(GameViewController& game, float dt, float t);

    std::string goText_;
    Fonts::Font hudFont_;
    HudText text_;
    uint32_t state_ = kStart;
    std::string centreText_;
    Sound countdownSound_;
    EventHandler* events_;
    float textScale_ = 1.0f;
    uint64_t lastCoinCount_ = 0;
    float remainingTime_ = 0.0f;
    bonus_mode::Popup popup_;  // its texts outlive the popup's construction
};
