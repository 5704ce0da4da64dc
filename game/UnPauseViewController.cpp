#include "game/UnPauseViewController.h"

#include "audio/Context.h"
#include "graphics/Context.h"
#include "graphics/PostProcessingStep.h"
#include "os/EventHandler.h"

UnPauseViewController::UnPauseViewController(Graphics::Context* graphics, std::unique_ptr<ViewController>&& game,
                                             PostProcessingStep* postProcessing, EventHandler* events,
                                             ResumeFromPauseCallback const& resume)
    : postProcessing_(postProcessing), graphics_(graphics), events_(events), resume_(resume) {
    graphics_->setBurstLoading(true);
    game_ = std::move(game);
}

void UnPauseViewController::drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (game_ && !postProcessing_->hasCapture()) game_->drawOverlay(graphics, shader);
}

void UnPauseViewController::preDraw(Graphics::Context* graphics) {
    if (game_) game_->preDraw(graphics);
}

void UnPauseViewController::update(Audio::Context& audio, float dt, float now) {
    if (state_ == kWaitingForTextures && graphics_->texturesLoaded()) {
        postProcessing_->fadeBackdropColor(glm::vec3(0.5f), glm::vec3(1.0f), 0.002f);
        postProcessing_->startBackdropFadeOut();
        state_ = kFadingBack;
    } else if (state_ == kFadingBack && !postProcessing_->isBackdropColorFading()) {
        audio.setCategoryFadeRate(0, 0.001f);
        graphics_->setBurstLoading(false);
        events_->trigger(signalResumed);
        state_ = kHandedBack;
        postProcessing_->setBackdropFadeSpeed(0.001f);
        postProcessing_->releaseCapture();
        // The callback deletes this screen: call a copy and touch nothing afterwards.
        ResumeFromPauseCallback const resume = resume_;
        if (resume) resume(std::move(game_));
        return;
    }
    if (game_ && state_ != kHandedBack) game_->update(audio, dt, now);
}
