#include "game/TimeAttackGameModeStateMachine.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "audio/Context.h"
#include "game/BonusModeParts.h"
#include "game/GameViewController.h"
#include "graphics/PostProcessingStep.h"
#include "os/Assets.h"
#include "os/EventHandler.h"
#include "os/services/Music.h"
#include "os/services/PlatformServices.h"

namespace {

float const forever = std::numeric_limits<float>::infinity();

// The lap fraction without its leading zero: 0.25 shows as ".2500".
std::string fractionText(float fraction) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", double(fraction));
    return std::string(text).substr(1);
}

}  // namespace

// The shared opening steps these states.
static_assert(TimeAttackGameModeStateMachine::kStart == bonus_mode::opening::start && TimeAttackGameModeStateMachine::kBeforePopup == bonus_mode::opening::beforePopup &&
              TimeAttackGameModeStateMachine::kPopupShown == bonus_mode::opening::popupShown &&
              TimeAttackGameModeStateMachine::kWaitForTime == bonus_mode::opening::waitForTime &&
              TimeAttackGameModeStateMachine::kCountdown == bonus_mode::opening::countdown);

TimeAttackGameModeStateMachine::TimeAttackGameModeStateMachine(Graphics::Context* graphics, Audio::Context* audio,
                                                               Fonts::Context* fonts,
                                                               ShowConfirmationBoxCallback const& showPopup,
                                                               EventHandler* events, bool showTutorialPopup)
    : audio_(audio),
      goText_(bonus_mode::localized(fonts, "bonusGO")),
      hudFont_(bonus_mode::font(fonts, Fonts::FontStyle::hud)),
      lapFont_(bonus_mode::font(fonts, Fonts::FontStyle::largeNumber)),
      text_(graphics),
      countdownSound_(audio, Assets::sndDravoBonusGameCountDown),
      shutterSound_(audio, Assets::sndDravoBonusGameCameraShutter),
      events_(events),
      popup_{showTutorialPopup, showPopup, bonus_mode::localized(fonts, "bonusATutorial"),
             bonus_mode::localized(fonts, "popupAffirmative")} {
    glm::vec2 const inset = needsSafeAreaInsets() ? glm::vec2(22.0f, 16.0f) : glm::vec2(0.0f);
    float const w = virtualWidth(), h = virtualHeight();
    lapCountAnchor_ = glm::vec2(w - 164.0f - inset.x, h - 75.0f - inset.y);
    lapFractionAnchor_ = glm::vec2(w - 165.0f - inset.x, h - 75.0f - inset.y);
}

void TimeAttackGameModeStateMachine::update(GameViewController& game, float dt, float t) {
    Player::Player& player = game.getWorld().getPlayer();
    if (bonus_mode::stepOpening(state_, kAfterPopup, popup_, game, dt, events_, countdownSound_)) return;
    switch (state_) {
        case kAfterPopup:
            popup_.timer += dt;
            if (popup_.timer > 1000.0f) {
                popup_.timer = 0.0f;
                events_->trigger(bonus_mode::resumeSignal);
                state_ = kWaitForTime;
            }
            break;
        case kCountdown:
            if (t < bonus_mode::countdownEnd) {
                centreText_ = bonus_mode::countdownText(t, goText_);
            } else {
                // Laps rolled while the input was blocked do not count.
                player.resetLaps();
                state_ = kRace;
                player.blockInput(0.0f);
                std::string track = Assets::musicBonusGame;
                track = track.substr(0, track.size() - 4) + musicExtension();
                if (audio_ != nullptr) {
                    audio_->playMusic(track.c_str(), false, false);
                    audio_->setMusicVolume(1.0f);
                }
            }
            break;
        case kRace:
            centreText_ = bonus_mode::seconds(std::ceil((raceEnd - t) / 1000.0f));
            if (t > raceEnd) {
                photoFinish(game);
                state_ = kFinished;
            }
            break;
        case kFinished:
            centreText_.clear();
            if (endTimer_ > 3000.0f) {
                endTimer_ = 0.0f;
                game.getEventHandler()->trigger(bonus_mode::levelEndSignal);
            } else {
                endTimer_ += dt;
            }
            break;
        default:
            break;
    }
}

void TimeAttackGameModeStateMachine::photoFinish(GameViewController& game) {
    centreText_.clear();
    game.getWorld().getPlayer().blockInput(forever);
    events_->trigger(bonus_mode::holdSignal);
    if (PostProcessingStep* post = game.getPostProcessingStep()) {
        post->requestCapture();
        // A white flash fading out over 500 ms over the frozen frame in colour.
        post->fadeAddColor(glm::vec3(1.0f), glm::vec3(0.0f), 0.002f);
        post->setMonochromeAmount(0.0f);
    }
    shutterSound_.play();
    if (audio_ != nullptr) audio_->stopMusic();
}

void TimeAttackGameModeStateMachine::preDraw(GameViewController& game) {
    text_.clear();
    Player::Player const& player = game.getWorld().getPlayer();
    text_.add(hudFont_, centreText_, bonus_mode::aboveThePlayer(game), 1);
    // The whole laps and the fraction read as one number, on one plate.
    text_.newPlate();
    text_.add(lapFont_, std::to_string(player.getLapCount()), lapCountAnchor_, 2);
    text_.add(hudFont_, fractionText(player.getLapFraction()), lapFractionAnchor_, 0);
}

void TimeAttackGameModeStateMachine::drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader,
                                                 glm::mat4 const& projection) {
    text_.draw(graphics, shader, projection);
}

void TimeAttackGameModeStateMachine::setPaused(bool paused) {
    if (state_ == kCountdown) {
        paused ? countdownSound_.pause() : countdownSound_.resume();
    } else if (state_ == kRace && audio_ != nullptr) {
        paused ? audio_->pauseMusic() : audio_->resumeMusic();
    }
}

// Only the countdown and the race may pause; the button is swallowed before and after.
bool TimeAttackGameModeStateMachine::allowsPause() const { return state_ == kCountdown || state_ == kRace; }
bool TimeAttackGameModeStateMachine::buttonPressed(uint32_t) { return !allowsPause(); }
