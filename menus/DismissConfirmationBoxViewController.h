#pragma once
// After a question box closed: fades the frozen backdrop back to full colour, runs the answer
// and gives the wrapped screen back to the app frame. The wrapped screen is updated meanwhile
// but gets no input.
#include <cstdint>
#include <functional>
#include <memory>

#include "os/ViewController.h"

class EventHandler;
class PostProcessingStep;

class DismissConfirmationBoxViewController : public ViewController {
public:
    enum State : uint32_t { kWaitingForTextures = 0, kFadingOut = 1, kHandedBack = 2 };

    // onDone runs just before the wrapped screen is given back, while this screen is still
    // current; it must not change screens itself (it may set state or raise signals). It may
    // be empty. The wrapped screen is taken over last, so a throw leaves it with the caller.
    DismissConfirmationBoxViewController(Graphics::Context* graphics, std::unique_ptr<ViewController>&& wrapped,
                                         PostProcessingStep* postProcessing, EventHandler* events,
                                         InstallViewControllerCallback const& install,
                                         std::function<void()> const& onDone);
    ~DismissConfirmationBoxViewController() override;

    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void preDraw(Graphics::Context* graphics) override;
    void update(Audio::Context& audio, float dt, float now) override;
    void touchMoved(glm::vec2 const&, uint32_t) override {}
    void touchBegan(glm::vec2 const&, uint32_t) override {}
    void touchEnded(glm::vec2 const&, uint32_t) override {}
    void buttonPressed(uint32_t) override {}
    // Takes no input: a key pressed meanwhile is a fresh press for the screen that follows.
    void const* inputTaker() const override { return nullptr; }

    uint32_t state() const { return state_; }
    ViewController* wrapped() const { return wrapped_.get(); }

private:
    uint32_t state_ = kWaitingForTextures;
    std::unique_ptr<ViewController> wrapped_;
    PostProcessingStep* postProcessing_;
    Graphics::Context* graphics_;
    EventHandler* events_;
    InstallViewControllerCallback install_;
    std::function<void()> onDone_;
};
