#pragma once
// A question over the running screen for code that has no menu of its own: freezes the
// screen's picture into a blurred, darkened backdrop, shows a ConfirmationBox over it and,
// once answered, hands over to a DismissConfirmationBoxViewController that gives the wrapped
// screen back. The wrapped screen keeps its updates all along but gets no input.
#include <glm/mat4x4.hpp>

#include <cstdint>
#include <functional>
#include <memory>

#include "menus/ConfirmationBox.h"
#include "os/ViewController.h"

class EventHandler;
class PostProcessingStep;
namespace Fonts {
class Context;
}

class ConfirmationBoxViewController : public ViewController {
public:
    enum State : uint32_t {
        kStart = 0,
        kCaptureRequested = 1,
        kWaitingForCapture = 2,
        kWaitingForBox = 3,
        kFadingIn = 4,
        kInteractive = 5,
        kClosing = 6,
        kHandingOver = 7,
        kReplaced = 8,
    };

    // The affirmative answer's callback runs once the box has closed and the backdrop is back;
    // a negative answer closes the same way without it. The wrapped screen is taken over
    // last, so a throw leaves it with the caller.
    ConfirmationBoxViewController(Graphics::Context* graphics, Audio::Context* audio,
                                  std::unique_ptr<ViewController>&& wrapped, PostProcessingStep* postProcessing,
                                  Fonts::Context* fonts, EventHandler* events,
                                  InstallViewControllerCallback const& install,
                                  ConfirmationBox::Parameters const& parameters);
    ~ConfirmationBoxViewController() override;

    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void preDraw(Graphics::Context* graphics) override;
    void update(Audio::Context& audio, float dt, float now) override;
    void touchMoved(glm::vec2 const& point, uint32_t touch) override { box_.touchMoved(point, touch); }
    void touchBegan(glm::vec2 const& point, uint32_t touch) override { box_.touchBegan(point, touch); }
    void touchEnded(glm::vec2 const& point, uint32_t touch) override { box_.touchEnded(point, touch); }
    void buttonPressed(uint32_t code) override { box_.buttonPressed(code); }
    void gamepadInput(GamepadState const& state) override { box_.gamepadInput(state); }
    void const* inputTaker() const override { return box_.inputTaker(); }

    uint32_t state() const { return state_; }
    ConfirmationBox& box() { return box_; }
    ViewController* wrapped() const { return wrapped_.get(); }

private:
    ConfirmationBox::Parameters boxParameters(ConfirmationBox::Parameters const& caller);
    void closeAndLeave(bool affirmative);

    std::unique_ptr<ViewController> wrapped_;
    PostProcessingStep* postProcessing_;
    uint32_t state_ = kStart;
    glm::mat4 projection_;
    std::function<void()> onAnswered_;
    bool affirmed_ = false;
    ConfirmationBox box_;
    InstallViewControllerCallback install_;
    EventHandler* events_;
    Graphics::Context* graphics_;
};
