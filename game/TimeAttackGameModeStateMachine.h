#pragma once
// The lap race of the bonus levels: a tutorial popup on the first start, a four-second
// countdown, sixty seconds of laps round the level's lap path, then a photo-finish and the end
// of the level three seconds later.
#include <glm/vec2.hpp>

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

class TimeAttackGameModeStateMachine : public GameModeStateMachine {
public:
    enum State : uint32_t {
        kStart = 0,
        kBeforePopup = 1,
        kPopupShown = 2,
        kAfterPopup = 3,
        kWaitForTime = 4,
        kCountdown = 5,
        kRace = 6,
        kFinished = 7,
    };
    static constexpr float raceEnd = 64000.0f;  // world time: 4 s of countdown, 60 s of race

    TimeAttackGameModeStateMachine(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                                   ShowConfirmationBoxCallback const& showPopup, EventHandler* events,
                                   bool showTutorialPopup);

    void update(GameViewController& game, float dt, float t) override;
    void preDraw(GameViewController& game) override;
    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader,
                     glm::mat4 const& projection) override;
    void setPaused(bool paused) override;
    bool buttonPressed(uint32_t code) override;
    bool allowsPause() const override;

    uint32_t state() const { return state_; }
    std::string const& centreText() const { return centreText_; }
    HudText const& text() const { return text_; }
    Sound const& countdownSound() const { return countdownSound_; }

private:
    void photoFinish(GameViewController& game);

    Audio::Context* audio_;
    std::string goText_;
    Fonts::Font hudFont_;
    Fonts::Font lapFont_;
    HudText text_;
    uint32_t state_ = kStart;
    std::string centreText_;
    glm::vec2 lapCountAnchor_;
    glm::vec2 lapFractionAnchor_;
    Sound countdownSound_;
    Sound shutterSound_;
    float endTimer_ = 0.0f;
    EventHandler* events_;
    bonus_mode::Popup popup_;  // its texts outlive the popup's construction
};
