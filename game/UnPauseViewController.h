#pragma once
// Between the closing pause menu and play: fades the frozen, greyed backdrop back to the live
// picture, then raises 20000003 and hands the game screen back. It takes no input: a pause pressed
// meanwhile pauses once play has resumed.
#include <cstdint>
#include <memory>

#include "os/AbstractAppCallbacks.h"
#include "os/ViewController.h"

class EventHandler;
class PostProcessingStep;

class UnPauseViewController : public ViewController {
public:
    static constexpr uint32_t signalResumed = 20000003;
    enum State : uint32_t { kWaitingForTextures = 0, kFadingBack = 1, kHandedBack = 2 };

    UnPauseViewController(Graphics::Context* graphics, std::unique_ptr<ViewController>&& game,
                          PostProcessingStep* postProcessing, EventHandler* events,
                          ResumeFromPauseCallback const& resume);

    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void preDraw(Graphics::Context* graphics) override;
    void update(Audio::Context& audio, float dt, float now) override;
    void touchMoved(glm::vec2 const&, uint32_t) override {}
    void touchBegan(glm::vec2 const&, uint32_t) override {}
    void touchEnded(glm::vec2 const&, uint32_t) override {}
    void buttonPressed(uint32_t) override {}
    // A key pressed meanwhile is a fresh press for the screen that follows.
    void const* inputTaker() const override { return nullptr; }

    uint32_t state() const { return state_; }
    ViewController* game() const { return game_.get(); }

private:
    uint32_t state_ = kWaitingForTextures;
    std::unique_ptr<ViewController> game_;
    PostProcessingStep* postProcessing_;
    Graphics::Context* graphics_;
    EventHandler* events_;
    ResumeFromPauseCallback resume_;
};
