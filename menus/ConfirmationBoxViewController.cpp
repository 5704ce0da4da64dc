#include "menus/ConfirmationBoxViewController.h"

#include <cstdio>

#include "graphics/Context.h"
#include "graphics/PostProcessingStep.h"
#include "graphics/ScreenAnchor.h"
#include "menus/DismissConfirmationBoxViewController.h"

ConfirmationBox::Parameters ConfirmationBoxViewController::boxParameters(ConfirmationBox::Parameters const& caller) {
    return ConfirmationBox::Parameters{caller.offset,
                                       caller.message,
                                       caller.affirmative,
                                       caller.negative,
                                       [this] { closeAndLeave(true); },
                                       [this] { closeAndLeave(false); },
                                       true};
}

ConfirmationBoxViewController::ConfirmationBoxViewController(
    Graphics::Context* graphics, Audio::Context* audio, std::unique_ptr<ViewController>&& wrapped,
    PostProcessingStep* postProcessing, Fonts::Context* fonts, EventHandler* events,
    InstallViewControllerCallback const& install, ConfirmationBox::Parameters const& parameters)
    : postProcessing_(postProcessing),
      projection_(screenProjection()),
      onAnswered_(parameters.onAffirmative),
      box_(graphics, audio, fonts, boxParameters(parameters)),
      install_(install),
      events_(events),
      graphics_(graphics) {
    graphics_->setSuspendTextureRequests(true);
    wrapped_ = std::move(wrapped);
}

ConfirmationBoxViewController::~ConfirmationBoxViewController() = default;

// A negative answer closes the box by itself; either answer then takes the same way out, and
// only the affirmative one runs the caller's callback at the end.
void ConfirmationBoxViewController::closeAndLeave(bool affirmative) {
    if (!box_.isActive() || state_ >= kClosing) return;
    if (affirmative) box_.close();
    affirmed_ = affirmative;
    state_ = kClosing;
}

void ConfirmationBoxViewController::draw(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (wrapped_ && !postProcessing_->hasCapture()) wrapped_->draw(graphics, shader);
}

void ConfirmationBoxViewController::drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (!wrapped_) return;
    if (!postProcessing_->hasCapture()) wrapped_->drawOverlay(graphics, shader);
    box_.draw(graphics, shader, projection_);
}

void ConfirmationBoxViewController::preDraw(Graphics::Context* graphics) {
    if (!wrapped_) return;
    wrapped_->preDraw(graphics);
    box_.preDraw();
}

void ConfirmationBoxViewController::update(Audio::Context& audio, float dt, float now) {
    switch (state_) {
    case kStart:
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
            state_ = kWaitingForBox;
        }
        break;
    case kWaitingForBox:
        if (box_.isReady()) {
            graphics_->setBurstLoading(false);
            postProcessing_->setBackdropFadeSpeed(0.004f);
            postProcessing_->startBackdropFadeIn();
            postProcessing_->fadeBackdropColor(glm::vec3(1.0f), glm::vec3(0.5f), 0.004f);
            box_.show();
            state_ = kFadingIn;
        }
        break;
    case kFadingIn:
        if (postProcessing_->checkBackdropFadeIn() && !postProcessing_->isBackdropColorFading()) state_ = kInteractive;
        box_.update(dt);
        break;
    case kInteractive:
        box_.update(dt);
        break;
    case kClosing:
        if (box_.isHidden()) state_ = kHandingOver;
        box_.update(dt);
        break;
    case kHandingOver: {
        state_ = kReplaced;
        if (!install_) {
            std::fprintf(stderr, "menus: a question box has nowhere to give its screen back\n");
            return;
        }
        auto dismiss = std::make_unique<DismissConfirmationBoxViewController>(
            graphics_, std::move(wrapped_), postProcessing_, events_, install_,
            affirmed_ ? onAnswered_ : std::function<void()>());
        // The last act: the app frame makes the dismiss screen current and retires this one.
        install_(std::move(dismiss));
        return;
    }
    default:
        break;
    }
    if (wrapped_) wrapped_->update(audio, dt, now);
}
