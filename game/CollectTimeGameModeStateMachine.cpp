#include "game/CollectTimeGameModeStateMachine.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "game/BonusModeParts.h"
#include "game/GameViewController.h"
#include "os/Assets.h"
#include "os/EventHandler.h"

namespace {

float const forever = std::numeric_limits<float>::infinity();

}  // namespace

// The shared opening steps these states.
static_assert(CollectTimeGameModeStateMachine::kStart == bonus_mode::opening::start && CollectTimeGameModeStateMachine::kBeforePopup == bonus_mode::opening::beforePopup &&
              CollectTimeGameModeStateMachine::kPopupShown == bonus_mode::opening::popupShown &&
              CollectTimeGameModeStateMachine::kWaitForTime == bonus_mode::opening::waitForTime &&
              CollectTimeGameModeStateMachine::kCountdown == bonus_mode::opening::countdown);

CollectTimeGameModeStateMachine::CollectTimeGameModeStateMachine(Graphics::Context* graphics, Audio::Context* audio,
                                                                 Fonts::Context* fonts,
                                                                 ShowConfirmationBoxCallback const& showPopup,
                                                                 EventHandler* events, bool showTutorialPopup)
    : goText_(bonus_mode::localized(fonts, "bonusGO")),
      hudFont_(bonus_mode::font(fonts, Fonts::FontStyle::hud)),
      text_(graphics),
      countdownSound_(audio, Assets::sndDravoBonusGameCountDown),
      events_(events),
      popup_{showTutorialPopup, showPopup, bonus_mode::localized(fonts, "bonusBTutorial"),
             bonus_mode::localized(fonts, "popupAffirmative")} {}

void CollectTimeGameModeStateMachine::update(GameViewController& game, float dt, float t) {
    Player::Player& player = game.getWorld().getPlayer();
    if (bonus_mode::stepOpening(state_, kPopupAnswered, popup_, game, dt, events_, countdownSound_)) return;
    switch (state_) {
        case kPopupAnswered:
            events_->trigger(bonus_mode::resumeSignal);
            state_ = kWaitForTime;
            break;
        case kCountdown:
            if (t < bonus_mode::countdownEnd) {
                centreText_ = bonus_mode::countdownText(t, goText_);
            } else {
                player.resetLaps();
                state_ = kCollecting;
                player.blockInput(0.0f);
            }
            break;
        case kCollecting:
            collect(game, dt, t);
            break;
        default:
            break;
    }
}

void CollectTimeGameModeStateMachine::collect(GameViewController& game, float dt, float t) {
    Player::Player& player = game.getWorld().getPlayer();
    // A coin pops the text to 1.5 times its size; it shrinks back in 250 ms.
    textScale_ = std::min(std::max(textScale_ - 0.002f * dt, 1.0f), 1.5f);
    uint64_t const coins = player.getCoinCount();
    if (coins != lastCoinCount_) {
        textScale_ = 1.5f;
        lastCoinCount_ = coins;
    }
    float const deadline = float(coins) * coinTime + baseDeadline;
    remainingTime_ = deadline - t;
    centreText_ = bonus_mode::seconds(std::ceil((deadline - t) * 0.001f));
    if (deadline < t) {
        remainingTime_ = 0.0f;
        centreText_.clear();
        player.blockInput(forever);
        game.getEventHandler()->trigger(bonus_mode::levelEndSignal);
        state_ = kFinished;
    }
}

void CollectTimeGameModeStateMachine::preDraw(GameViewController& game) {
    text_.clear();
    text_.add(hudFont_, centreText_, bonus_mode::aboveThePlayer(game), 1, textScale_);
}

void CollectTimeGameModeStateMachine::drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader,
                                                  glm::mat4 const& projection) {
    text_.draw(graphics, shader, projection);
}

void CollectTimeGameModeStateMachine::setPaused(bool paused) {
    if (state_ == kCountdown) paused ? countdownSound_.pause() : countdownSound_.resume();
}

// Only the countdown and the collecting may pause; the button is swallowed before and after.
bool CollectTimeGameModeStateMachine::allowsPause() const { return state_ == kCountdown || state_ == kCollecting; }
bool CollectTimeGameModeStateMachine::buttonPressed(uint32_t) { return !allowsPause(); }
