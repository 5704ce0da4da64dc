#include "game/PauseViewController.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include <glm/gtc/matrix_transform.hpp>

#include "audio/Context.h"
#include "fonts/Context.h"
#include "graphics/Context.h"
#include "graphics/PostProcessingStep.h"
#include "graphics/ScreenAnchor.h"
#include "graphics/StandardShader.h"
#include "game/UnPauseViewController.h"
#include "level/LevelCatalog.h"
#include "menus/SineRamp.h"
#include "os/Assets.h"
#include "os/EventHandler.h"

namespace {

constexpr float kStepMs = 50.0f;
constexpr float kMusicFadeRate = 0.004f;
constexpr float kSlideRate = 0.0025f;

glm::vec2 fromCentre(float x, float y) { return anchoredPosition(kAnchorCenter, nullptr) + glm::vec2(x, y); }

AnimatedButton pauseButton(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts, float y,
                           char const* key, std::function<bool()> action) {
    boost::optional<SoundDescriptor const&> const noClick;
    boost::optional<TextureDescriptor const&> const base(Assets::texMenusButtonsContinueNormal);
    glm::vec3 const labelPosition(0.0f, -10.0f, 0.0f);
    Button::Parameters const p{Assets::hitMenusButtonsContinue,
                               noClick,
                               base,
                               Assets::texMenusButtonsContinueHighlight,
                               fonts->font(Fonts::FontStyle::popupButton),
                               fonts->localizedString(key),
                               std::move(action),
                               labelPosition,
                               0,
                               0};
    return AnimatedButton(graphics, audio, fromCentre(-5.0f, y), p);
}

ConfirmationBox question(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts, char const* key,
                         std::function<void()> onYes) {
    static glm::vec2 const offset(0.0f);
    std::string const message = fonts->localizedString(key);
    std::string const yes = fonts->localizedString("yesPopup");
    std::string const no = fonts->localizedString("noPopup");
    return ConfirmationBox(graphics, audio, fonts,
                           ConfirmationBox::Parameters{offset, message, yes, boost::optional<std::string const&>(no),
                                                       std::move(onYes), [] {}, true});
}

}  // namespace

void PauseViewController::Fade::step(float dt) {
    if (state == 1) {
        if (progress >= 1.0f) state = 2;
        progress = std::clamp(progress + rate * dt, 0.0f, 1.0f);
    }
    current = progress * to + (1.0f - progress) * from;
}

// Slow start out to the left; fast start back in from the left.
PauseViewController::Slide PauseViewController::slideOut() {
    return Slide{0.0f, -virtualWidth(), kSlideRate, 0.98f, 0.99f, 0.0f, 0};
}
PauseViewController::Slide PauseViewController::slideIn() {
    return Slide{-virtualWidth(), 0.0f, kSlideRate, 0.01f, 0.02f, 0.0f, 0};
}

PauseViewController::PauseViewController(Graphics::Context* graphics, Audio::Context* audio,
                                         std::unique_ptr<ViewController>&& game, PostProcessingStep* postProcessing,
                                         Fonts::Context* fonts, EventHandler* events,
                                         ReturnToMainMenuCallback const& returnToMainMenu,
                                         StartLevelCallback const& startLevel, std::string const& levelPath,
                                         std::string const& levelName, ResumeFromPauseCallback const& resume,
                                         bool skipTutorial, bool hardcore)
    : graphics_(graphics),
      audio_(audio),
      slide_(slideOut()),
      openSound_(audio, Assets::sndDravoInGameMenuPopup),
      closeSound_(audio, Assets::sndDravoInGameMenuPopupReversed),
      buttonSound_(audio, Assets::sndDravoMenuButtonGeneral),
      postProcessing_(postProcessing),
      fonts_(fonts),
      events_(events),
      returnToMainMenu_(returnToMainMenu),
      startLevel_(startLevel),
      levelPath_(levelPath),
      restartAction_([this, levelName, skipTutorial, hardcore] {
          // A hardcore run starts over from the first level.
          if (hardcore && LevelCatalog::count() > 0) {
              LevelCatalog::Entry const& first = LevelCatalog::entry(0);
              startLevel_(first.path, first.nameKey, true, true, true);
          } else {
              startLevel_(levelPath_, levelName, true, skipTutorial, false);
          }
          return true;
      }),
      resumeCallback_(resume),
      projection_(screenProjection()),
      title_(fonts->localizedString("gamePausedInPauseMenu"),
             PopInTransform(ScreenAnchor(2), fromCentre(-5.0f, 210.0f), glm::vec2(0.0f, 20.0f)),
             fonts->font(Fonts::FontStyle::mesquiteHeader), 1, 1.0f),
      resume_(pauseButton(graphics, audio, fonts, 125.0f, "resumeGameInPauseMenu", [this] { return requestResume(); })),
      options_(pauseButton(graphics, audio, fonts, 15.0f, "optionsInPauseMenu",
                           [this] {
                               if (state_ != kInteractive) return false;
                               buttonSound_.play();
                               slide_.time = 0.0f;
                               slide_.state = 1;
                               state_ = kSlidingToOptions;
                               return false;
                           })),
      restart_(pauseButton(graphics, audio, fonts, -95.0f, "restartSceneInPauseMenu",
                           [this] {
                               if (state_ != kInteractive) return false;
                               buttonSound_.play();
                               restartPopup_.show();
                               return false;
                           })),
      mainMenu_(pauseButton(graphics, audio, fonts, -205.0f, "mainMenuInPauseMenu",
                            [this] {
                                if (state_ != kInteractive) return false;
                                buttonSound_.play();
                                mainMenuPopup_.show();
                                return false;
                            })),
      savedMusicVolume_(audio->musicVolume()),
      musicFade_{savedMusicVolume_, 0.0f, kMusicFadeRate, savedMusicVolume_, 0.0f, 0},
      restartPopup_(question(graphics, audio, fonts, "restartScenePopup", [this] { state_ = kRestarting; })),
      mainMenuPopup_(question(graphics, audio, fonts, "mainMenuPopup", [this] { state_ = kLeavingForMainMenu; })),
      optionsMenu_(graphics, audio, fonts, [this] { closeOptionsMenu(); }),
      focus_(audio,
             {FocusNavigator::Node(&resume_.button(), boost::none, boost::none, 3u, 1u),
              FocusNavigator::Node(&options_.button(), boost::none, boost::none, 0u, 2u),
              FocusNavigator::Node(&restart_.button(), boost::none, boost::none, 1u, 3u),
              FocusNavigator::Node(&mainMenu_.button(), boost::none, boost::none, 2u, 0u)},
             0, true),
      veilTexture_(graphics, Assets::texColorsBlack),
      veilQuad_(glm::vec2(0.0f), glm::vec2(virtualWidth(), virtualHeight()), glm::vec2(1.0f)) {
    graphics_->setSuspendTextureRequests(true);
    game_ = std::move(game);
}

// Replaced while it opens (the level's end arriving with its hold), the screen gives back what it
// holds: texture requests and burst loading belong to the next screen.
PauseViewController::~PauseViewController() {
    if (state_ <= kWaitingForCapture) graphics_->setSuspendTextureRequests(false);
    if (state_ == kWaitingForArt || state_ == kOpeningOptions) graphics_->setBurstLoading(false);
}

// The options menu's back action.
void PauseViewController::closeOptionsMenu() {
    openSubmenu_ = nullptr;
    state_ = kOptionsClosed;
}

bool PauseViewController::requestResume() {
    if (state_ != kInteractive || popupActive()) return false;
    title_.popIn().animation().dismiss();
    state_ = kDismissResume;
    musicFade_ = Fade{0.0f, savedMusicVolume_, kMusicFadeRate, 0.0f, 0.0f, 1};
    closeSound_.play();
    return true;
}

bool PauseViewController::stepTimer(float dt) {
    timer_ += dt;
    if (timer_ <= kStepMs) return false;
    timer_ = 0.0f;
    return true;
}

void PauseViewController::updateElements(float dt, bool title, bool resume, bool options, bool restart,
                                         bool mainMenu) {
    if (resume) resume_.update(dt);
    if (title) title_.update(dt);
    if (options) options_.update(dt);
    if (restart) restart_.update(dt);
    if (mainMenu) mainMenu_.update(dt);
}

bool PauseViewController::allPopIns(bool shown) const {
    auto is = [shown](PopInAnimation const& a) { return shown ? a.isShown() : a.isHidden(); };
    return is(title_.popIn().animation()) && is(resume_.popIn().animation()) && is(options_.popIn().animation()) &&
           is(restart_.popIn().animation()) && is(mainMenu_.popIn().animation());
}

// The picture stays frozen while the next screen builds; the backdrop shows at once, ungreyed.
void PauseViewController::capturedExit() {
    postProcessing_->setBackdropFadeSpeed(0.001f);
    postProcessing_->resetBackdropFade();
    postProcessing_->fadeBackdropColor(glm::vec3(1.0f), glm::vec3(1.0f), FLT_MAX);
}

void PauseViewController::update(Audio::Context& audio, float dt, float now) {
    // The hold raised here reaches the game with the next dispatch: until then its world must
    // not step, or a goal touched in that step would end the level under the menu.
    bool const holdPending = state_ == kStart && !openSubmenu_;
    if (openSubmenu_) {
        openSubmenu_->update(dt);
    } else {
        switch (state_) {
        case kStart:
            events_->trigger(signalPaused);
            state_ = kCaptureRequested;
            break;
        case kCaptureRequested:
            postProcessing_->requestCapture();
            state_ = kWaitingForCapture;
            break;
        case kWaitingForCapture:
            if (postProcessing_->hasCapture()) {
                graphics_->setSuspendTextureRequests(false);
                graphics_->setBurstLoading(true);
                state_ = kWaitingForArt;
            }
            break;
        case kWaitingForArt:
            if (resume_.button().isReady() && mainMenuPopup_.isReady()) {
                // The level's sounds fade out over 1 s; menu sounds are another category.
                audio_->setCategoryFadeRate(0, -0.001f);
                graphics_->setBurstLoading(false);
                musicFade_.progress = 0.0f;
                musicFade_.state = 1;
                openSound_.play();
                postProcessing_->setBackdropFadeSpeed(0.004f);
                postProcessing_->startBackdropFadeIn();
                postProcessing_->fadeBackdropColor(glm::vec3(1.0f), glm::vec3(0.5f), 0.004f);
                title_.popIn().animation().start();
                state_ = 4;
            }
            break;
        case 4:
            if (stepTimer(dt)) {
                resume_.popIn().animation().start();
                state_ = 5;
            }
            updateElements(dt, true, false, false, false, false);
            break;
        case 5:
            if (stepTimer(dt)) {
                options_.popIn().animation().start();
                state_ = 6;
            }
            updateElements(dt, true, true, false, false, false);
            break;
        case 6:
            if (stepTimer(dt)) {
                restart_.popIn().animation().start();
                state_ = 7;
            }
            updateElements(dt, true, true, true, false, false);
            break;
        case 7:
            if (stepTimer(dt)) {
                mainMenu_.popIn().animation().start();
                state_ = 8;
            }
            updateElements(dt, true, true, true, true, false);
            break;
        case 8:
            if (!postProcessing_->isBackdropColorFading() && allPopIns(true)) state_ = kInteractive;
            updateElements(dt, true, true, true, true, true);
            break;
        case kInteractive:
            restartPopup_.update(dt);
            mainMenuPopup_.update(dt);
            updateElements(dt, true, true, true, true, true);
            focus_.updateHighlight();
            break;
        case kSlidingToOptions:
            if (slide_.state == 2) {
                graphics_->setBurstLoading(true);
                state_ = kOpeningOptions;
            }
            break;
        case kOpeningOptions:
            if (optionsMenu_.isReady()) {
                graphics_->setBurstLoading(false);
                optionsMenu_.open();
                openSubmenu_ = &optionsMenu_;
            }
            break;
        case kOptionsClosed:
            events_->trigger(signalOptionsClosed);
            optionsMenu_.reset();
            slide_ = slideIn();
            slide_.state = 1;
            state_ = kSlidingBack;
            break;
        case kSlidingBack:
            if (slide_.state == 2) {
                slide_ = slideOut();
                state_ = kInteractive;
            }
            break;
        case kDismissResume:
            if (stepTimer(dt)) {
                resume_.popIn().animation().dismiss();
                state_ = 15;
            }
            updateElements(dt, true, false, true, true, true);
            break;
        case 15:
        case 16:
        case 17:
            if (stepTimer(dt)) {
                AnimatedButton& next = state_ == 15 ? options_ : state_ == 16 ? restart_ : mainMenu_;
                next.popIn().animation().dismiss();
                ++state_;
            }
            updateElements(dt, true, true, true, true, true);
            break;
        case kWaitingForHidden:
            if (allPopIns(false)) state_ = kHandingOver;
            updateElements(dt, true, true, true, true, true);
            break;
        case kHandingOver: {
            state_ = kReplaced;
            // The callback may delete this screen: call a copy and touch nothing afterwards.
            ResumeFromPauseCallback const resume = resumeCallback_;
            auto unpause =
                std::make_unique<UnPauseViewController>(graphics_, std::move(game_), postProcessing_, events_, resume);
            if (resume) resume(std::move(unpause));
            return;
        }
        case kLeavingForMainMenu:
            postProcessing_->requestCapture();
            state_ = kMainMenuCapture;
            break;
        case kMainMenuCapture: {
            capturedExit();
            state_ = kReplaced;
            game_.reset();
            ReturnToMainMenuCallback const leave = returnToMainMenu_;
            if (leave) leave();
            return;
        }
        case kRestarting:
            postProcessing_->requestCapture();
            state_ = kRestartCapture;
            break;
        case kRestartCapture: {
            capturedExit();
            state_ = kReplaced;
            keptGame_ = std::move(game_);
            std::function<bool()> const restart = restartAction_;
            restart();
            return;
        }
        default:
            break;
        }
        if (slide_.state == 1) {
            if (slide_.time >= 1.0f) slide_.state = 2;
            slide_.time = std::clamp(slide_.time + slide_.rate * dt, 0.0f, 1.0f);
        }
    }
    if (game_) {
        if (!holdPending) game_->update(audio, dt, now);
        musicFade_.step(dt);
        audio_->setMusicVolume(musicFade_.current);
    }
}

void PauseViewController::draw(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (game_ && !postProcessing_->hasCapture()) game_->draw(graphics, shader);
}

void PauseViewController::preDraw(Graphics::Context* graphics) {
    if (!game_) return;
    if (openSubmenu_) {
        openSubmenu_->preDraw();
        return;
    }
    game_->preDraw(graphics);
    resume_.preDraw();
    options_.preDraw();
    restart_.preDraw();
    mainMenu_.preDraw();
    slideValue_ = slide_.from + (slide_.to - slide_.from) * sineRamp(slide_.time, slide_.threshold1, slide_.threshold2);
    labels_.clear();
    resume_.drawLabel(labels_);
    options_.drawLabel(labels_);
    restart_.drawLabel(labels_);
    mainMenu_.drawLabel(labels_);
    title_.draw(labels_, glm::vec2(0.0f), glm::vec4(1.0f));
    restartPopup_.preDraw();
    mainMenuPopup_.preDraw();
}

void PauseViewController::drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (!game_) return;
    if (!postProcessing_->hasCapture()) game_->drawOverlay(graphics, shader);
    if (openSubmenu_) {
        openSubmenu_->draw(graphics, shader, projection_);
        return;
    }
    graphics->setBlend(true);
    if (veilTexture_.isReady()) {
        float const shown = std::clamp(1.0f - std::abs(slideValue_) / virtualWidth(), 0.0f, 1.0f);
        shader->use(Graphics::StandardShader::kColor);
        shader->setPVM(projection_);
        shader->setColor(glm::vec4(0.45f * shown));
        veilTexture_.bind(GL_TEXTURE0);
        veilQuad_.draw(*shader);
    }
    glm::mat4 const pvm = projection_ * glm::translate(glm::mat4(1.0f), glm::vec3(slideValue_, 0.0f, 0.0f));
    shader->use(Graphics::StandardShader::kColor);
    shader->setPVM(pvm);
    shader->setColor(glm::vec4(1.0f));
    resume_.draw(shader);
    options_.draw(shader);
    restart_.draw(shader);
    mainMenu_.draw(shader);
    shader->use(Graphics::StandardShader::kAmbient);
    shader->setPVM(pvm);
    labels_.draw(graphics, shader, boost::none);
    restartPopup_.draw(graphics, shader, projection_);
    mainMenuPopup_.draw(graphics, shader, projection_);
}

void PauseViewController::touchBegan(glm::vec2 const& point, uint32_t touch) {
    if (openSubmenu_) return openSubmenu_->touchBegan(point, touch);
    if (restartPopup_.isActive()) return restartPopup_.touchBegan(point, touch);
    if (mainMenuPopup_.isActive()) return mainMenuPopup_.touchBegan(point, touch);
    resume_.touchBegan(point, touch);
    mainMenu_.touchBegan(point, touch);
    restart_.touchBegan(point, touch);
    options_.touchBegan(point, touch);
}

void PauseViewController::touchMoved(glm::vec2 const& point, uint32_t touch) {
    if (openSubmenu_) return openSubmenu_->touchMoved(point, touch);
    if (restartPopup_.isActive()) return restartPopup_.touchMoved(point, touch);
    if (mainMenuPopup_.isActive()) return mainMenuPopup_.touchMoved(point, touch);
    resume_.touchMoved(point, touch);
    mainMenu_.touchMoved(point, touch);
    restart_.touchMoved(point, touch);
    options_.touchMoved(point, touch);
}

void PauseViewController::touchEnded(glm::vec2 const& point, uint32_t touch) {
    if (openSubmenu_) return openSubmenu_->touchEnded(point, touch);
    if (restartPopup_.isActive()) return restartPopup_.touchEnded(point, touch);
    if (mainMenuPopup_.isActive()) return mainMenuPopup_.touchEnded(point, touch);
    resume_.touchEnded(point, touch);
    mainMenu_.touchEnded(point, touch);
    restart_.touchEnded(point, touch);
    options_.touchEnded(point, touch);
}

void const* PauseViewController::inputTaker() const {
    if (openSubmenu_) return openSubmenu_->inputTaker();
    if (restartPopup_.isActive()) return restartPopup_.inputTaker();
    if (mainMenuPopup_.isActive()) return mainMenuPopup_.inputTaker();
    // Coming up, sliding to the options and back, or leaving: it takes nothing then.
    return state_ == kInteractive ? this : nullptr;
}

void PauseViewController::gamepadInput(GamepadState const& state) {
    if (openSubmenu_) return openSubmenu_->gamepadInput(state);
    if (restartPopup_.isActive()) return restartPopup_.gamepadInput(state);
    if (mainMenuPopup_.isActive()) return mainMenuPopup_.gamepadInput(state);
    focus_.gamepadInput(state);
}

void PauseViewController::buttonPressed(uint32_t code) {
    if (code == buttonPause) {
        if (restartPopup_.isActive()) return restartPopup_.buttonPressed(code);
        if (mainMenuPopup_.isActive()) return mainMenuPopup_.buttonPressed(code);
        if (openSubmenu_) return openSubmenu_->buttonPressed(code);
        requestResume();
    } else if (code == buttonBack) {
        if (openSubmenu_) return openSubmenu_->buttonPressed(code);
        requestResume();
    }
}
