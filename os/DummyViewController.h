#pragma once
#include "os/ViewController.h"

// The placeholder screen, current until the first real screen is installed: it clears to black.
class DummyViewController : public ViewController {
public:
    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void preDraw(Graphics::Context* graphics) override;
    void update(Audio::Context& audio, float dt, float now) override;
    void touchMoved(glm::vec2 const& point, uint32_t tapCount) override;
    void touchBegan(glm::vec2 const& point, uint32_t tapCount) override;
    void touchEnded(glm::vec2 const& point, uint32_t tapCount) override;
    void buttonPressed(uint32_t code) override;
    // Takes no input: a key pressed meanwhile is a fresh press for the screen that follows.
    void const* inputTaker() const override { return nullptr; }
};
