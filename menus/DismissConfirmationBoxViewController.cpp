#include "menus/DismissConfirmationBoxViewController.h"

#include <cstdio>

#include "graphics/Context.h"
#include "graphics/PostProcessingStep.h"

DismissConfirmationBoxViewController::DismissConfirmationBoxViewController(
    Graphics::Context* graphics, std::unique_ptr<ViewController>&& wrapped, PostProcessingStep* postProcessing,
    EventHandler* events, InstallViewControllerCallback const& install, std::function<void()> const& onDone)
    : postProcessing_(postProcessing), graphics_(graphics), events_(events), install_(install), onDone_(onDone) {
    graphics_->setBurstLoading(true);
    wrapped_ = std::move(wrapped);
}

DismissConfirmationBoxViewController::~DismissConfirmationBoxViewController() = default;

void DismissConfirmationBoxViewController::drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (wrapped_ && !postProcessing_->hasCapture()) wrapped_->drawOverlay(graphics, shader);
}

void DismissConfirmationBoxViewController::preDraw(Graphics::Context* graphics) {
    if (wrapped_) wrapped_->preDraw(graphics);
}

void DismissConfirmationBoxViewController::update(Audio::Context& audio, float dt, float now) {
    if (state_ == kWaitingForTextures && graphics_->texturesLoaded()) {
        postProcessing_->fadeBackdropColor(glm::vec3(0.5f), glm::vec3(1.0f), 0.002f);
        postProcessing_->startBackdropFadeOut();
        state_ = kFadingOut;
    } else if (state_ == kFadingOut && postProcessing_->checkBackdropFadeOut() &&
               !postProcessing_->isBackdropColorFading()) {
        graphics_->setBurstLoading(false);
        state_ = kHandedBack;
        postProcessing_->setBackdropFadeSpeed(0.001f);
        postProcessing_->releaseCapture();
        if (onDone_) onDone_();
        if (!install_) {
            std::fprintf(stderr, "menus: a question box has nowhere to give its screen back\n");
            return;
        }
        // The last act: the app frame makes the wrapped screen current and retires this one.
        install_(std::move(wrapped_));
        return;
    }
    if (wrapped_) wrapped_->update(audio, dt, now);
}
