#pragma once
// The first level's touch lessons: press both thumbs (or each in turn), slide to move, swipe up to jump, swipe down
// to dive, and the mechanical bridge's hint. It blocks the player's inputs until each is learnt,
// holds the camera still during the first lessons and, once, offers a popup about the controls.
// Level signals start and finish it and open the later lessons.
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>

#include <cstdint>

#include "fonts/TextMesh.h"
#include "graphics/Sprite.h"
#include "menus/Button.h"
#include "menus/ConfirmationBox.h"

class Camera;
class ControlScheme;
class EventHandler;
namespace Audio {
class Context;
}
namespace Fonts {
class Context;
}
namespace Player {
class Player;
}

class TutorialOverlay {
public:
    static constexpr uint32_t signalHold = 20000002;
    static constexpr uint32_t signalResume = 20000003;
    static constexpr uint32_t signalStart = 20000011;
    static constexpr uint32_t signalFinish = 20000013;
    static constexpr uint32_t signalJumpLessonOn = 20000016;
    static constexpr uint32_t signalJumpLessonOff = 20000017;
    static constexpr uint32_t signalDiveLessonOn = 20000018;
    static constexpr uint32_t signalDiveLessonOff = 20000019;
    static constexpr uint32_t signalBridgeHintOn = 20000020;
    static constexpr uint32_t signalBridgeHintOff = 20000021;
    static constexpr uint32_t signalCancelButtonsHint = 20000022;
    // Active time before the controls popup.
    static constexpr float buttonsHintDelayMs = 50000.0f;

    TutorialOverlay(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts, EventHandler* events,
                    ShowConfirmationBoxCallback const& showPopup);

    void update(Player::Player& player, Camera& camera, ControlScheme& controlScheme, float dt);
    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader);
    bool touchMoved(glm::vec2 const& point, uint32_t touch);
    bool touchBegan(glm::vec2 const& point, uint32_t touch);
    bool touchEnded(glm::vec2 const& point, uint32_t touch);

    // The level's signals.
    void activate(Player::Player& player, Camera& camera);
    void finish(Player::Player& player, Camera& camera);
    void setJumpLessonReady(bool ready);
    void setDiveLessonReady(bool ready);
    void setBridgeHintVisible(bool visible);
    void cancelButtonsHint() { buttonsHintPending_ = false; }

    // What the tests look into.
    uint32_t step() const { return step_; }
    bool isActive() const { return active_; }
    bool isFinished() const { return finished_; }
    float overlayAlpha() const { return overlayAlpha_; }
    float fadeDirection() const { return fadeDirection_; }
    float hintAlpha() const { return hintAlpha_; }
    uint32_t bridgePhase() const { return bridgePhase_; }
    uint64_t jumpCount() const { return jumpCount_; }
    bool buttonsHintPending() const { return buttonsHintPending_; }
    // The y each text was laid out at, in the order of the text keys.
    float const* textHeights() const { return textHeights_; }
    Button const& leftThumb() const { return leftThumbButton_; }
    Button const& rightThumb() const { return rightThumbButton_; }
    float buttonsHintTime() const { return buttonsHintTime_; }

private:
    bool bothThumbsPressed() const { return leftThumbButton_.isPressed() && rightThumbButton_.isPressed(); }
    bool eitherThumbPressed() const { return leftThumbButton_.isPressed() || rightThumbButton_.isPressed(); }
    Button* thumbFor(glm::vec2 const& point);
    bool takesTouches() const { return active_ && step_ <= 1; }
    void stepWork(Player::Player& player, ControlScheme& controlScheme, float dt);
    void advanceSwipe(float dt);
    void showControlsHint(ControlScheme& controlScheme, char const* key);
    void advanceHint(float dt);
    void drawSprite(Graphics::StandardShader* shader, Sprite const& sprite, glm::mat4 const& model, float c) const;
    void drawText(Graphics::Context* graphics, Graphics::StandardShader* shader, Fonts::TextMesh const& text,
                  float c) const;

    Sprite thumbSprite_;
    Sprite slidingThumbSprite_;
    Sprite bridgeThumbSprite_;
    Sprite swipingThumbSprite_;
    Sprite pressBoxLeft_;
    Sprite pressBoxRight_;
    Sprite lessonBoxLeft_;
    Sprite lessonBoxRight_;
    Sprite lineSprite_;
    Button leftThumbButton_;
    Button rightThumbButton_;
    float fadeDirection_ = 1.0f;
    float overlayAlpha_ = 0.0f;
    float pressPulse_ = 1.0f;
    float pressPulseTimer_ = 0.0f;
    float bothPressedTime_ = 0.0f;
    // Left and right thumb: how long each has been held, and whether that was long enough once.
    float thumbHeldTime_[2] = {};
    bool thumbLearnt_[2] = {};
    uint32_t pressPulsePhase_ = 0;
    uint32_t bridgePhase_ = 3;
    float bridgeProgress_ = 0.0f;
    float bridgeHoldTime_ = 0.0f;
    uint32_t step_ = 0;
    float slideDirection_ = 1.0f;
    float slideAmount_ = 0.0f;
    glm::mat4 projection_;
    Fonts::TextMesh pressHereText_;
    Fonts::TextMesh slideText_;
    Fonts::TextMesh swipeUpText_;
    Fonts::TextMesh swipeDownText_;
    Fonts::TextMesh swipeUpAndHoldText_;
    bool active_ = false;
    float hintAlpha_ = 0.0f;
    float hintDirection_ = 1.0f;
    float moveTime_ = 0.0f;
    float slideTextAlpha_ = 1.0f;
    float jumpWaitTime_ = 0.0f;
    float swipePulse_ = 0.0f;
    float swipePhase_ = 0.0f;
    float swipeHintDirection_ = 1.0f;
    float swipeHintAlpha_ = 0.0f;
    uint64_t jumpCount_ = 0;
    bool lastJump_ = false;
    float afterJumpTime_ = 0.0f;
    bool jumpLessonReady_ = false;
    bool diveLessonReady_ = false;
    bool bridgeHintVisible_ = false;
    bool buttonsHintPending_ = true;
    bool finished_ = false;
    float buttonsHintTime_ = 0.0f;
    ShowConfirmationBoxCallback showPopup_;
    Fonts::Context* fonts_;
    EventHandler* events_;
    float textHeights_[6] = {};
};
