#include "menus/MainMenuLoaderViewController.h"

#include <glm/vec3.hpp>

#include "audio/Context.h"
#include "graphics/Context.h"
#include "graphics/PostProcessingStep.h"
#include "menus/MainMenuViewController.h"
#include "os/services/ShellServices.h"

MainMenuLoaderViewController::MainMenuLoaderViewController(
    Graphics::Context* graphics, Audio::Context*, std::unique_ptr<ViewController>&& previous,
    PostProcessingStep* postProcessing, Fonts::Context* fonts, InstallViewControllerCallback const& install,
    StartLevelCallback const& startLevel, CloudSyncThread* cloudSync, boost::optional<std::string> const& video)
    : fonts_(fonts),
      graphics_(graphics),
      postProcessing_(postProcessing),
      state_(std::make_shared<uint32_t>(0)),
      install_(install),
      startLevel_(startLevel),
      cloudSync_(cloudSync),
      video_(video) {
    // Taken last: if anything above throws, the caller still has its screen.
    held_ = std::move(previous);
}

MainMenuLoaderViewController::~MainMenuLoaderViewController() = default;

void MainMenuLoaderViewController::update(Audio::Context& audio, float dt, float now) {
    uint32_t& state = *state_;
    switch (state) {
    case 0:
        postProcessing_->fadeColor(glm::vec3(1.0f), glm::vec3(0.0f), 0.001f);
        state = 1;
        if (held_) held_->update(audio, dt, now);
        break;
    case 1:
        if (postProcessing_->isColorFading()) {
            if (held_) held_->update(audio, dt, now);
            break;
        }
        held_.reset();
        graphics_->setBurstLoading(true);
        held_ = std::make_unique<MainMenuViewController>(graphics_, &audio, fonts_, startLevel_, cloudSync_);
        if (video_) {
            audio.stopMusic();
            state = 2;
            logEvent(("PLAYED_VIDEO_WITH_PATH: " + *video_).c_str());
            std::weak_ptr<uint32_t> const target = state_;
            // The platform may call this at once, from inside playVideo.
            playVideo(video_->c_str(), [target] {
                if (auto s = target.lock()) *s = 3;
            });
        } else {
            state = 3;
        }
        break;
    case 2:
        break;
    default:
        if (graphics_->texturesLoaded()) {
            postProcessing_->releaseCapture();
            graphics_->setBurstLoading(false);
            postProcessing_->fadeColor(glm::vec3(0.0f), glm::vec3(1.0f), 0.001f);
            // Deletes this loader, with the callback object itself: run from a copy, and nothing
            // of this screen is touched afterwards.
            InstallViewControllerCallback const install = install_;
            install(std::move(held_));
            return;
        }
        break;
    }
}

void MainMenuLoaderViewController::preDraw(Graphics::Context* graphics) {
    if (*state_ < 2 && held_) held_->preDraw(graphics);
}

void MainMenuLoaderViewController::drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (*state_ < 2 && held_) held_->drawOverlay(graphics, shader);
}

void MainMenuLoaderViewController::gamepadInput(GamepadState const& state) {
    if (state.buttonA) skipVideo();
}
