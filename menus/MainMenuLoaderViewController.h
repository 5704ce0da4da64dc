#pragma once
// The screen every return to the main menu passes through: fades the previous screen to black,
// destroys it, builds the main menu, plays the optional video, waits for the menu's textures,
// fades in and hands the main menu to the app frame. A on a controller skips the video.
#include <boost/optional.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "os/AbstractAppCallbacks.h"

class CloudSyncThread;
class PostProcessingStep;
namespace Fonts {
class Context;
}

class MainMenuLoaderViewController : public ViewController {
public:
    MainMenuLoaderViewController(Graphics::Context* graphics, Audio::Context* audio,
                                 std::unique_ptr<ViewController>&& previous, PostProcessingStep* postProcessing,
                                 Fonts::Context* fonts, InstallViewControllerCallback const& install,
                                 StartLevelCallback const& startLevel, CloudSyncThread* cloudSync,
                                 boost::optional<std::string> const& video);
    ~MainMenuLoaderViewController() override;

    void update(Audio::Context& audio, float dt, float now) override;
    void preDraw(Graphics::Context* graphics) override;
    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void touchMoved(glm::vec2 const&, uint32_t) override {}
    void touchBegan(glm::vec2 const&, uint32_t) override {}
    void touchEnded(glm::vec2 const&, uint32_t) override {}
    void buttonPressed(uint32_t) override {}
    void gamepadInput(GamepadState const& state) override;
    // Only the video takes input (A skips it); a press made while the menu loads is the menu's.
    void const* inputTaker() const override { return *state_ == 2 ? this : nullptr; }

    uint32_t state() const { return *state_; }
    ViewController* heldScreen() const { return held_.get(); }

private:
    Fonts::Context* fonts_;
    Graphics::Context* graphics_;
    std::unique_ptr<ViewController> held_;
    PostProcessingStep* postProcessing_;
    // Shared with the video's end callback, which may outlive this screen (the app quitting
    // while the video plays): it writes only while the loader still holds it.
    std::shared_ptr<uint32_t> state_;
    InstallViewControllerCallback install_;
    StartLevelCallback startLevel_;
    CloudSyncThread* cloudSync_;
    boost::optional<std::string> video_;
};
