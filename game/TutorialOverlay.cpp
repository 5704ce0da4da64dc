#include "game/TutorialOverlay.h"

#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>
#include <limits>
#include <string>

#include "fonts/Context.h"
#include "fonts/TextLabel.h"
#include "game/ControlScheme.h"
#include "game/CutsceneServices.h"
#include "game/HUD.h"
#include "graphics/Context.h"
#include "graphics/DrawRecord.h"
#include "graphics/StandardShader.h"
#include "menus/SineRamp.h"
#include "os/Assets.h"
#include "os/EventHandler.h"
#include "os/services/PlatformServices.h"
#include "os/services/ShellServices.h"
#include "world/Camera.h"
#include "world/Player.h"

namespace {

constexpr float forever = std::numeric_limits<float>::infinity();
constexpr float fadeRate = 0.0025f;

Sprite sprite(Graphics::Context* graphics, TextureDescriptor const& texture, ScreenAnchor anchor, glm::vec2 offset) {
    return Sprite(Graphics::Texture(graphics, texture), anchor, offset, std::nullopt, glm::vec2(1.0f));
}

// The box texture centred on a point.
Sprite box(Graphics::Context* graphics, glm::vec2 centre) {
    return sprite(graphics, Assets::texTutorialTextbackground, kAnchorOrigin, centre);
}

Sprite line(Graphics::Context* graphics) {
    Graphics::Texture texture(graphics, Assets::texTutorialLine);
    glm::vec2 const size(texture.width(), texture.height());
    return Sprite(std::move(texture), kAnchorOrigin, glm::vec2(virtualWidth() * 0.5f, 0.0f), size,
                  glm::vec2(1.0f, 1337.0f));
}

Button thumbButton(Graphics::Context* graphics, Audio::Context* audio, glm::vec2 centre) {
    boost::optional<SoundDescriptor const&> const noClick;
    boost::optional<TextureDescriptor const&> const base(Assets::texTutorialThumbHitcircle);
    glm::vec3 const labelPosition(0.0f);
    Button::Parameters const p{Assets::hitTutorialThumbHitcircle,
                               noClick,
                               base,
                               Assets::texTutorialThumbHitcircleHighlighted,
                               boost::none,
                               boost::none,
                               [] { return false; },
                               labelPosition,
                               0,
                               0};
    return Button(graphics, audio, centre, centre, p);
}

// Texts of three lines sit higher, so that they stay inside their box.
float textHeight(std::string const& text, float usual, float threeLines) {
    return std::count(text.begin(), text.end(), '\n') == 2 ? threeLines : usual;
}

}  // namespace

TutorialOverlay::TutorialOverlay(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                                 EventHandler* events, ShowConfirmationBoxCallback const& showPopup)
    : thumbSprite_(sprite(graphics, Assets::texTutorialThumb, kAnchorBottomLeft, glm::vec2(-92.0f, -162.0f))),
      slidingThumbSprite_(
          sprite(graphics, Assets::texTutorialSlidingThumb, kAnchorBottomLeft, glm::vec2(-100.0f, -65.0f))),
      bridgeThumbSprite_(
          sprite(graphics, Assets::texTutorialSwipingThumb, kAnchorBottomRight, glm::vec2(-30.0f, -250.0f))),
      swipingThumbSprite_(
          sprite(graphics, Assets::texTutorialSwipingThumb, kAnchorBottomRight, glm::vec2(-30.0f, -250.0f))),
      pressBoxLeft_(box(graphics, glm::vec2(255.0f, 360.0f))),
      pressBoxRight_(box(graphics, glm::vec2(virtualWidth() - 255.0f, 360.0f))),
      lessonBoxLeft_(box(graphics, glm::vec2(260.0f, 390.0f))),
      lessonBoxRight_(box(graphics, glm::vec2(virtualWidth() - 260.0f, 390.0f))),
      lineSprite_(line(graphics)),
      leftThumbButton_(thumbButton(graphics, audio, glm::vec2(240.0f, 175.0f))),
      rightThumbButton_(thumbButton(graphics, audio, glm::vec2(virtualWidth() - 240.0f, 175.0f))),
      projection_(screenProjection()),
      showPopup_(showPopup),
      fonts_(fonts),
      events_(events) {
    if (fonts_ != nullptr) {
        float const w = virtualWidth();
        Fonts::Font const font = fonts_->font(Fonts::FontStyle::popupButton);
        struct Text {
            char const* key;
            float x;
            bool press;
            Fonts::TextMesh* mesh;
        };
        Text const texts[] = {{"tutorialLeftThumbPressHere", 255.0f, true, &pressHereText_},
                              {"tutorialRightThumbPressHere", w - 255.0f, true, &pressHereText_},
                              {"tutorialLeftThumbSlideToMove", 260.0f, false, &slideText_},
                              {"tutorialRightThumbSwipeUp", w - 260.0f, false, &swipeUpText_},
                              {"tutorialRightThumbSwipeDown", w - 260.0f, false, &swipeDownText_},
                              {"tutorialRightThumbSwipeUpAndHold", w - 260.0f, false, &swipeUpAndHoldText_}};
        int i = 0;
        for (Text const& t : texts) {
            // A missing key shows the string table's stand-in text.
            std::string const& text = fonts_->localizedString(t.key);
            float const y = t.press ? textHeight(text, 370.0f, 393.0f) : textHeight(text, 400.0f, 423.0f);
            textHeights_[i++] = y;
            TextLabel(text, glm::vec2(t.x, y), font, 1, 1.0f)
                .draw(*t.mesh, glm::vec2(0.0f), glm::vec4(1.0f), glm::mat4(1.0f));
        }
    }
    cutsceneServices().logEvent("TUTORIAL_WAIT_UNTIL_BOTH_BUTTONS_PRESSED");
}

Button* TutorialOverlay::thumbFor(glm::vec2 const& point) {
    return point.x < virtualWidth() * 0.5f ? &leftThumbButton_ : &rightThumbButton_;
}

bool TutorialOverlay::touchBegan(glm::vec2 const& point, uint32_t touch) {
    return takesTouches() && thumbFor(point)->touchBegan(point, touch);
}

bool TutorialOverlay::touchMoved(glm::vec2 const& point, uint32_t touch) {
    return takesTouches() && thumbFor(point)->touchMoved(point, touch);
}

bool TutorialOverlay::touchEnded(glm::vec2 const& point, uint32_t touch) {
    return takesTouches() && thumbFor(point)->touchEnded(point, touch);
}

void TutorialOverlay::activate(Player::Player& player, Camera& camera) {
    if (finished_) return;
    active_ = true;
    camera.setHoldOffset(true);
    camera.setLocked(true);
    if (step_ <= 1) {
        player.blockInput(forever);
    } else if (step_ <= 3) {
        player.blockDive(forever);
        player.blockJump(forever);
    } else if (step_ <= 6) {
        player.blockDive(forever);
    }
    if (step_ == 9) {
        fadeDirection_ = bridgeHintVisible_ ? 1.0f : -1.0f;
    } else if (step_ == 8) {
        fadeDirection_ = diveLessonReady_ ? 1.0f : -1.0f;
    } else if (step_ == 7) {
        fadeDirection_ = -1.0f;
    } else {
        fadeDirection_ = 1.0f;
    }
}

void TutorialOverlay::finish(Player::Player& player, Camera& camera) {
    active_ = false;
    finished_ = true;
    camera.setHoldOffset(false);
    camera.setLocked(false);
    player.blockInput(0.0f);
    fadeDirection_ = -1.0f;
}

void TutorialOverlay::setJumpLessonReady(bool ready) {
    if (finished_) return;
    jumpLessonReady_ = ready;
}

void TutorialOverlay::setDiveLessonReady(bool ready) {
    if (finished_) return;
    diveLessonReady_ = ready;
    fadeDirection_ = ready ? 1.0f : -1.0f;
}

void TutorialOverlay::setBridgeHintVisible(bool visible) {
    if (finished_) return;
    bridgeHintVisible_ = visible;
    if (step_ != 9) cutsceneServices().logEvent("TUTORIAL_MECHANICAL_BRIDGE");
    step_ = 9;
    fadeDirection_ = visible ? 1.0f : -1.0f;
}

void TutorialOverlay::advanceSwipe(float dt) {
    swipePhase_ = std::clamp(swipePhase_ + 0.001f * dt, 0.0f, 1.0f);
    if (swipePhase_ >= 1.0f) swipePhase_ = 0.0f;
    swipePulse_ = pulseCurve(4, swipePhase_);
}

void TutorialOverlay::advanceHint(float dt) {
    hintAlpha_ = std::clamp(hintAlpha_ + hintDirection_ * fadeRate * dt, 0.0f, 1.0f);
}

void TutorialOverlay::showControlsHint(ControlScheme& controlScheme, char const* key) {
    controlScheme.reset();
    if (events_ != nullptr) events_->trigger(signalHold);
    static glm::vec2 const offset(0.0f);
    std::string const message = fonts_ ? fonts_->localizedString(key) : std::string();
    std::string const affirmative = fonts_ ? fonts_->localizedString("popupAffirmative") : std::string();
    EventHandler* events = events_;
    if (showPopup_)
        showPopup_(ConfirmationBox::Parameters{offset, message, affirmative, boost::none,
                                               [events] {
                                                   if (events != nullptr) events->trigger(signalResume);
                                               },
                                               [] {}, true});
}

void TutorialOverlay::update(Player::Player& player, Camera& camera, ControlScheme& controlScheme, float dt) {
    overlayAlpha_ = std::clamp(overlayAlpha_ + fadeDirection_ * fadeRate * dt, 0.0f, 1.0f);
    if (!active_) return;

    if (buttonsHintPending_ && !finished_) {
        buttonsHintTime_ += dt;
        if (buttonsHintTime_ >= buttonsHintDelayMs && player.isAlive()) {
            buttonsHintPending_ = false;
            // Keys and controllers end the touch lessons (their control layer finishes the
            // overlay), so the reminder only ever tells of the touch scheme in use.
            char const* const key = isControllerPresent() ? nullptr : controlScheme.controlsHintKey();
            if (key != nullptr) showControlsHint(controlScheme, key);
        }
    }

    uint32_t const stepBefore = step_;
    stepWork(player, controlScheme, dt);
    leftThumbButton_.update(dt);
    rightThumbButton_.update(dt);
    // The first lessons keep the camera's focus panned ahead of the player, locked there so that
    // no other pan moves it.
    if (step_ <= 6) {
        camera.setLocked(false);
        camera.panTo(glm::vec2(3.0f, 0.0f), false, true, 1500.0f);
        camera.setLocked(true);
    }
    if (stepBefore == 0) controlScheme.setStickVisible(false);
    if (step_ == 6 && overlayAlpha_ <= 0.0f) {
        step_ = 7;
        camera.setHoldOffset(false);
        camera.setLocked(false);
    }
}

void TutorialOverlay::stepWork(Player::Player& player, ControlScheme& controlScheme, float dt) {
    switch (step_) {
        case 0: {
            if (bothThumbsPressed()) {
                if (bothPressedTime_ > 1000.0f) {
                    step_ = 1;
                    fadeDirection_ = -1.0f;
                }
                bothPressedTime_ += dt;
            } else {
                bothPressedTime_ = 0.0f;
            }
            // One pointer (a mouse) cannot hold both thumbs at once: each held for over a second
            // in turn counts too, and stays lit once it has been.
            Button* const thumbs[2] = {&leftThumbButton_, &rightThumbButton_};
            for (int i = 0; i < 2; ++i) {
                if (!thumbs[i]->isPressed()) {
                    thumbHeldTime_[i] = 0.0f;
                    continue;
                }
                if (thumbHeldTime_[i] > 1000.0f) {
                    thumbLearnt_[i] = true;
                    thumbs[i]->setHighlighted(true);
                }
                thumbHeldTime_[i] += dt;
            }
            if (step_ == 0 && thumbLearnt_[0] && thumbLearnt_[1]) {
                step_ = 1;
                fadeDirection_ = -1.0f;
            }
            if (pressPulsePhase_ == 0) {
                pressPulse_ = std::clamp(pressPulse_ - 0.00025f * dt, 0.75f, 1.0f);
                if (pressPulse_ <= 0.75f) pressPulsePhase_ = 1;
            } else {
                if (pressPulseTimer_ >= 1000.0f) {
                    pressPulseTimer_ = 0.0f;
                    pressPulse_ = 1.0f;
                    pressPulsePhase_ = 0;
                }
                pressPulseTimer_ += dt;
            }
            break;
        }
        case 1:
            if (overlayAlpha_ > 0.0f) {
                fadeDirection_ = -1.0f;
            } else if (!eitherThumbPressed()) {
                player.blockInput(0.0f);
                player.blockJump(forever);
                player.blockDive(forever);
                step_ = 2;
                cutsceneServices().logEvent("TUTORIAL_LEFT_THUMB_MOVEMENT");
                fadeDirection_ = 1.0f;
            }
            break;
        case 2: {
            advanceHint(dt);
            slideAmount_ = std::clamp(slideAmount_ + slideDirection_ * 0.001f * dt, 0.0f, 1.0f);
            if (slideAmount_ >= 1.0f) slideDirection_ = -1.0f;
            if (slideAmount_ <= 0.0f) slideDirection_ = 1.0f;
            auto const& input = player.getInput();
            if (input.left == 0 && input.right == 0) {
                moveTime_ = 0.0f;
            } else {
                moveTime_ += dt;
                if (moveTime_ >= 2500.0f) {
                    step_ = 3;
                    hintDirection_ = -1.0f;
                    controlScheme.setStickVisible(true);
                }
            }
            break;
        }
        case 3:
            advanceHint(dt);
            slideTextAlpha_ = std::clamp(slideTextAlpha_ - fadeRate * dt, 0.0f, 1.0f);
            if (jumpWaitTime_ >= 1000.0f && jumpLessonReady_) {
                step_ = 4;
                cutsceneServices().logEvent("TUTORIAL_RIGHT_THUMB_JUMP");
                player.blockJump(0.0f);
            }
            jumpWaitTime_ += dt;
            break;
        case 4: {
            advanceSwipe(dt);
            swipeHintAlpha_ = std::clamp(swipeHintAlpha_ + swipeHintDirection_ * fadeRate * dt, 0.0f, 1.0f);
            bool const jump = player.getInput().jump != 0;
            if (jump && !lastJump_) {
                ++jumpCount_;
                if (jumpCount_ >= 3) swipeHintDirection_ = -1.0f;
            }
            lastJump_ = jump;
            if (swipeHintAlpha_ <= 0.0f) step_ = 5;
            break;
        }
        case 5:
            afterJumpTime_ += dt;
            if (afterJumpTime_ >= 4000.0f) {
                fadeDirection_ = -1.0f;
                step_ = 6;
            }
            break;
        case 6:
            // Released after this frame's camera hold (in update).
            break;
        case 7:
            if (diveLessonReady_) {
                step_ = 8;
                cutsceneServices().logEvent("TUTORIAL_DIVING_LESSON");
                player.blockDive(0.0f);
            }
            break;
        case 8:
            advanceSwipe(dt);
            break;
        case 9:
            advanceHint(dt);
            switch (bridgePhase_) {
                case 0:
                    if (hintAlpha_ >= 1.0f) bridgePhase_ = 1;
                    break;
                case 1:
                    if (bridgeProgress_ >= 1.0f) bridgePhase_ = 2;
                    bridgeProgress_ = std::clamp(bridgeProgress_ + 0.001f * dt, 0.0f, 1.0f);
                    break;
                case 2:
                    bridgeHoldTime_ += dt;
                    if (bridgeHoldTime_ >= 1500.0f) {
                        bridgePhase_ = 3;
                        bridgeHoldTime_ = 0.0f;
                        hintDirection_ = -1.0f;
                    }
                    break;
                default:
                    if (hintAlpha_ <= 0.0f) {
                        bridgePhase_ = 0;
                        hintDirection_ = 1.0f;
                        bridgeProgress_ = 0.0f;
                    }
                    break;
            }
            break;
        default:
            break;
    }
}

void TutorialOverlay::drawSprite(Graphics::StandardShader* shader, Sprite const& s, glm::mat4 const& model,
                                 float c) const {
    shader->use(1);
    shader->setPVM(projection_ * model);
    shader->setColor(glm::vec4(c));
    s.draw(*shader);
    bool const box = &s == &pressBoxLeft_ || &s == &pressBoxRight_ || &s == &lessonBoxLeft_ || &s == &lessonBoxRight_;
    if (box && c >= 0.3f) Graphics::DrawRecord::panel(s.quad().lowest(), s.quad().highest(), shader->pvm());
}

void TutorialOverlay::drawText(Graphics::Context* graphics, Graphics::StandardShader* shader,
                               Fonts::TextMesh const& text, float c) const {
    if (text.empty()) return;
    shader->use(3);
    shader->setPVM(projection_);
    text.draw(graphics, shader, glm::vec4(1.0f, 1.0f, 1.0f, c));
}

void TutorialOverlay::draw(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (overlayAlpha_ <= 0.0f || graphics == nullptr || shader == nullptr) return;
    graphics->setBlend(true);
    glm::mat4 const identity(1.0f);
    float const a = overlayAlpha_;
    float const w = virtualWidth();
    glm::mat4 const lineModel = glm::scale(identity, glm::vec3(1.0f, 1337.0f, 1.0f));
    auto up = [&](float y) { return glm::translate(identity, glm::vec3(0.0f, y, 0.0f)); };
    switch (step_) {
        case 0:
        case 1: {
            drawSprite(shader, pressBoxLeft_, identity, a);
            drawSprite(shader, pressBoxRight_, identity, a);
            leftThumbButton_.draw(shader);
            rightThumbButton_.draw(shader);
            float const c = std::clamp(a * (4.0f - 4.0f * pressPulse_), 0.0f, 1.0f);
            drawSprite(shader, thumbSprite_, glm::scale(identity, glm::vec3(pressPulse_, pressPulse_, 1.0f)), c);
            drawSprite(shader, thumbSprite_,
                       glm::translate(identity, glm::vec3(w, 0.0f, 0.0f)) *
                           glm::scale(identity, glm::vec3(-pressPulse_, pressPulse_, 1.0f)),
                       c);
            drawText(graphics, shader, pressHereText_, a);
            break;
        }
        case 2:
        case 3:
            drawSprite(shader, lineSprite_, lineModel, a);
            drawSprite(shader, lessonBoxLeft_, identity, slideTextAlpha_ * a);
            drawSprite(shader, slidingThumbSprite_,
                       glm::translate(identity, glm::vec3(200.0f * sineRamp(slideAmount_, 0.5f, 0.5f), 0.0f, 0.0f)),
                       hintAlpha_ * a);
            drawText(graphics, shader, slideText_, slideTextAlpha_ * a);
            break;
        case 4:
            drawSprite(shader, lessonBoxRight_, identity, swipeHintAlpha_ * a);
            drawSprite(shader, lineSprite_, lineModel, a);
            drawSprite(shader, swipingThumbSprite_, up(200.0f * sineRamp(swipePhase_, 0.01f, 0.9f)),
                       swipePulse_ * a * swipeHintAlpha_);
            drawText(graphics, shader, swipeUpText_, swipeHintAlpha_ * a);
            break;
        case 5:
        case 6:
            drawSprite(shader, lineSprite_, lineModel, a);
            break;
        case 8:
            drawSprite(shader, lessonBoxRight_, identity, a);
            drawSprite(shader, lineSprite_, lineModel, a);
            drawSprite(shader, swipingThumbSprite_, up(200.0f - 200.0f * sineRamp(swipePhase_, 0.01f, 0.9f)),
                       swipePulse_ * a);
            drawText(graphics, shader, swipeDownText_, a);
            break;
        case 9:
            drawSprite(shader, lessonBoxRight_, identity, a);
            drawSprite(shader, lineSprite_, lineModel, a);
            drawSprite(shader, bridgeThumbSprite_, up(200.0f * sineRamp(bridgeProgress_, 0.01f, 0.01f)),
                       hintAlpha_ * a);
            drawText(graphics, shader, swipeUpAndHoldText_, a);
            break;
        default:
            break;
    }
}
