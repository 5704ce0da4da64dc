#include "menus/BackgroundDownloaderOverlay.h"

#include <GLES2/gl2.h>
#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>
#include <cmath>
#include <utility>

#include "fonts/Context.h"
#include "fonts/Layout.h"
#include "fonts/TextLabel.h"
#include "graphics/Context.h"
#include "graphics/ScreenAnchor.h"
#include "graphics/SlideTransition.h"
#include "graphics/StandardShader.h"
#include "menus/SineRamp.h"
#include "os/Assets.h"
#include "os/services/ShellServices.h"
#include "save/RoamingDataFile.h"

namespace {

constexpr float kDimSpeed = 0.00075f;  // per ms
constexpr float kDimMax = 0.75f;
constexpr float kCellularQuestionBelow = 0.1f;

// Once per run of the program, whichever host shows them.
bool noDiskSpaceShown = false;
bool cellularAsked = false;

char const* const kStatusKeys[4] = {"downloaderDownloadingNewContent", "downloaderPaused", "downloaderNoNetwork",
                                    "downloaderVerifyingContent"};

float inset() { return needsSafeAreaInsets() ? -40.0f : 0.0f; }

BackgroundDownloaderOverlay::Tween slideFor(int direction) {
    SlideTransition const s = slideTransition(direction, true);
    return {s.x, s.y, s.rate, s.firstThreshold, s.secondThreshold, s.x, 0.0f, 0};
}

// Advances a running tween; it is reported ended on the update after it arrives.
void advance(BackgroundDownloaderOverlay::Tween& tween, float dt) {
    if (tween.state != 1) return;
    if (tween.t >= 1.0f) tween.state = 2;
    tween.t = std::clamp(tween.t + tween.rate * dt, 0.0f, 1.0f);
}

// The platform promises 0..1; anything else (NaN included) must not stretch the bar.
float sane(float progress) { return std::isnan(progress) ? 0.0f : std::clamp(progress, 0.0f, 1.0f); }

Sprite barSprite(Graphics::Context* graphics, TextureDescriptor const& texture, float x, float y,
                 std::optional<glm::vec2> size, glm::vec2 uvExtent) {
    return Sprite(Graphics::Texture(graphics, texture), kAnchorCenter,
                  glm::vec2(x, virtualHeight() / 2.0f + y + inset()), size, uvExtent);
}

glm::vec2 const kNoOffset(0.0f);

}  // namespace

BackgroundDownloaderOverlay::PlatformCalls& BackgroundDownloaderOverlay::platformCalls() {
    static PlatformCalls calls{&::allowCellularDownload, &::downloadOverlayHook};
    return calls;
}

void BackgroundDownloaderOverlay::resetRunFlags() {
    noDiskSpaceShown = false;
    cellularAsked = false;
}
bool BackgroundDownloaderOverlay::noDiskSpaceShownThisRun() { return noDiskSpaceShown; }
bool BackgroundDownloaderOverlay::cellularAskedThisRun() { return cellularAsked; }

BackgroundDownloaderOverlay::BackgroundDownloaderOverlay(Graphics::Context* graphics, Audio::Context* audio,
                                                         Fonts::Context* fonts, bool enabled,
                                                         std::function<void()> const& onConsent)
    : downloadState_(::downloadState()),
      backBar_(barSprite(graphics, Assets::texMenusBackgrounddownloaderBlackbarBack, -320.0f, -8.0f,
                         glm::vec2(640.0f, 64.0f), glm::vec2(640.0f, 1.0f))),
      progressBar_(barSprite(graphics, Assets::texMenusBackgrounddownloaderGreenbar, -320.0f, -8.0f,
                             glm::vec2(640.0f, 64.0f), glm::vec2(640.0f, 1.0f))),
      glass_(barSprite(graphics, Assets::texMenusBackgrounddownloaderGlassTop, -305.0f, -8.0f, glm::vec2(640.0f, 64.0f),
                       glm::vec2(20.0f, 1.0f))),
      leftHolder_(barSprite(graphics, Assets::texMenusBackgrounddownloaderHolderLeft, -334.0f, -12.0f, std::nullopt,
                            glm::vec2(1.0f))),
      rightHolder_(barSprite(graphics, Assets::texMenusBackgrounddownloaderHolderLeft, 334.0f, -12.0f, std::nullopt,
                             glm::vec2(-1.0f, 1.0f))),
      slideIn_(slideFor(4)),
      slideOut_(slideFor(5)),
      projection_(screenProjection()),
      progress_(sane(::downloadProgress())),
      fonts_(fonts),
      dimQuad_(Graphics::Texture(graphics, Assets::texColorsBlack), kAnchorBottomLeft, glm::vec2(0.0f),
               glm::vec2(virtualWidth(), virtualHeight()), glm::vec2(1.0f)),
      finishedBox_(graphics, audio, fonts,
                   ConfirmationBox::Parameters{kNoOffset, fonts->localizedString("downloaderFinished"),
                                               fonts->localizedString("popupAffirmative"), boost::none,
                                               [this] {
                                                   finishPending_ = true;
                                                   finishedBox_.dismissPanel();
                                               },
                                               [] {}, false}),
      cellularBox_(graphics, audio, fonts,
                   ConfirmationBox::Parameters{
                       kNoOffset, fonts->localizedString("downloaderAskForCellularData"),
                       fonts->localizedString("yesPopup"),
                       boost::optional<std::string const&>(fonts->localizedString("noPopup")),
                       [this] { answerCellularQuestion(true); }, [this] { cellularBox_.close(); }, true}),
      noDiskSpaceBox_(graphics, audio, fonts,
                      ConfirmationBox::Parameters{kNoOffset, fonts->localizedString("downloaderNoDiskSpace"),
                                                  fonts->localizedString("popupAffirmative"), boost::none,
                                                  [this] { noDiskSpaceBox_.close(); }, [] {}, true}),
      enabled_(enabled),
      onConsent_(onConsent) {
    // Starts hidden above the top edge; the slide out is reported ended by the first update.
    slideOut_.t = 1.0f;
    slideOut_.value = slideOut_.to;
    slideOut_.state = 1;
    glm::vec2 const at(virtualWidth() / 2.0f, virtualHeight() - 21.0f + inset());
    Fonts::Font const font = fonts->font(Fonts::FontStyle::backgroundDownloader);
    for (int i = 0; i < 4; ++i)
        TextLabel(fonts->localizedString(kStatusKeys[i]), at, font, Fonts::alignCentre, 1.0f)
            .draw(statusTexts_[i], glm::vec2(0.0f), glm::vec4(1.0f), glm::mat4(1.0f));
    drawnBar_ = progressBar_.quad();
}

void BackgroundDownloaderOverlay::update(bool interactive, float dt) {
    dimAlpha_ = std::clamp(dimAlpha_ + dimSpeed_ * dt, 0.0f, kDimMax);

    if (shown_ != targetShown_ && slide().state == 2) {
        shown_ = targetShown_;
        slide().t = 0.0f;
        slide().state = 1;
    }
    advance(slide(), dt);

    if (pulse().state == 2) {
        activePulse_ ^= 1;
        pulse().t = 0.0f;
        pulse().state = 1;
    }

    // A stored 3 holds until a finished notice is pending: the platform is not asked meanwhile.
    bool const holding = downloadState_ == 3 && !finishPending_;
    if (!holding) {
        downloadState_ = ::downloadState();
        switch (downloadState_) {
        case 0: advance(pulse(), dt); break;
        case 1: {
            int const reason = downloadPausedReason();
            if (reason == 2) {
                if (interactive && !noDiskSpaceShown && shown_ == 1) {
                    noDiskSpaceShown = true;
                    noDiskSpaceBox_.show();
                }
            } else if (reason == 3 && shown_ == 1) {
                RoamingDataFile save("roamingData");
                if (save.data.cellularDownloadAllowed()) {
                    platformCalls().allowCellularDownload(true);
                } else if (interactive && !cellularAsked && ::downloadProgress() < kCellularQuestionBelow) {
                    cellularAsked = true;
                    cellularBox_.show();
                }
            }
            break;
        }
        case 2:
            if (shown_ == 1 && !finishedBox_.isActive() && enabled_) {
                platformCalls().downloadOverlayHook();
                dimSpeed_ = kDimSpeed;
                if (!finishSeen_ || !interactive) {
                    finishPending_ = true;
                    finishSeen_ = true;
                } else {
                    finishedBox_.show();
                    finishPending_ = false;
                }
            }
            break;
        case 4:
            if (finishPending_ || !finishedBox_.isActive()) targetShown_ = 0;
            break;
        default: break;  // 3 and anything outside the platform's range
        }

        downloadState_ = ::downloadState();
        if (downloadState_ != 3) {
            dimSpeed_ = -kDimSpeed;
            if (finishPending_) {
                // Closing a box that never opened would play its closing animation.
                if (finishedBox_.isActive()) finishedBox_.close();
                finishPending_ = false;
            }
            progress_ = downloadState_ == 4 ? 1.0f : sane(::downloadProgress());
        }
    } else {
        advance(pulse(), dt);
    }

    if (interactive) {
        finishedBox_.update(dt);
        cellularBox_.update(dt);
        noDiskSpaceBox_.update(dt);
    }
}

void BackgroundDownloaderOverlay::preDraw() {
    Tween& s = slide();
    s.value = s.from + (s.to - s.from) * sineRamp(s.t, s.rampA, s.rampB);
    Tween& p = pulse();
    p.value = p.t * p.to + (1.0f - p.t) * p.from;
    finishedBox_.preDraw();
    cellularBox_.preDraw();
    noDiskSpaceBox_.preDraw();
}

BackgroundDownloaderOverlay::Status BackgroundDownloaderOverlay::status() const {
    switch (downloadState_) {
    case 0:
    case 2: return kDownloading;
    case 1: return downloadPausedReason() == 1 ? kNoNetwork : kPaused;
    case 3:
    case 4: return kVerifying;
    default: return kNoStatus;
    }
}

void BackgroundDownloaderOverlay::draw(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (shown_ == 0 && slideOut_.state == 2 && dimAlpha_ == 0.0f) return;
    graphics->setBlend(true);
    if (dimAlpha_ > 0.0f) {
        shader->use(Graphics::StandardShader::kColor);
        shader->setPVM(projection_);
        shader->setColor(glm::vec4(dimAlpha_));
        dimQuad_.draw(*shader);
    }
    finishedBox_.draw(graphics, shader, projection_);
    noDiskSpaceBox_.draw(graphics, shader, projection_);
    cellularBox_.draw(graphics, shader, projection_);

    glm::mat4 const m = glm::translate(projection_, glm::vec3(0.0f, slide().value, 0.0f));
    shader->use(Graphics::StandardShader::kColor);
    shader->setPVM(m);
    shader->setColor(glm::vec4(1.0f));
    backBar_.draw(*shader);

    shader->setColor(glm::vec4(pulse().value));
    drawnBar_ = progressBar_.quad();
    // Corners 0 and 1 are the right edge, 2 and 3 the left: the bar grows from its left end.
    float const left = drawnBar_.corner(2).position.x;
    float const right = drawnBar_.corner(0).position.x;
    float const x = left + (right - left) * progress_;
    drawnBar_.corner(0).position.x = x;
    drawnBar_.corner(1).position.x = x;
    drawQuadWithSprite(drawnBar_, *shader, progressBar_);

    shader->use(Graphics::StandardShader::kTextured);
    shader->setPVM(m);
    glass_.draw(*shader);
    leftHolder_.draw(*shader);
    rightHolder_.draw(*shader);

    Status const s = status();
    if (s == kNoStatus) return;
    // The mesh order follows the keys: downloading, paused, no network, verifying.
    shader->use(Graphics::StandardShader::kAmbient);
    shader->setPVM(m);
    statusTexts_[s].draw(graphics, shader, boost::none);
}

bool BackgroundDownloaderOverlay::isBlockingInput() const {
    return shown_ == 1 && (finishedBox_.isActive() || cellularBox_.isActive() || noDiskSpaceBox_.isActive());
}

void const* BackgroundDownloaderOverlay::inputTaker() const { return inputBox().inputTaker(); }

ConfirmationBox const& BackgroundDownloaderOverlay::inputBox() const {
    if (cellularBox_.isActive()) return cellularBox_;
    if (noDiskSpaceBox_.isActive()) return noDiskSpaceBox_;
    return finishedBox_;
}

ConfirmationBox& BackgroundDownloaderOverlay::inputBox() {
    return const_cast<ConfirmationBox&>(std::as_const(*this).inputBox());
}

void BackgroundDownloaderOverlay::touchBegan(glm::vec2 const& point, unsigned touch) { inputBox().touchBegan(point, touch); }
void BackgroundDownloaderOverlay::touchMoved(glm::vec2 const& point, unsigned touch) { inputBox().touchMoved(point, touch); }
void BackgroundDownloaderOverlay::touchEnded(glm::vec2 const& point, unsigned touch) { inputBox().touchEnded(point, touch); }
void BackgroundDownloaderOverlay::gamepadInput(GamepadState const& state) { inputBox().gamepadInput(state); }
void BackgroundDownloaderOverlay::buttonPressed(unsigned code) { inputBox().buttonPressed(code); }

void BackgroundDownloaderOverlay::answerCellularQuestion(bool yes) {
    cellularBox_.close();
    if (!yes) return;
    RoamingDataFile save("roamingData");
    save.data.setCellularDownloadAllowed(true);
    platformCalls().allowCellularDownload(true);
    // Runs with the save record open: the callback must not open it again.
    if (onConsent_) onConsent_();
}
