#pragma once
#include "game/ControlScheme.h"

// No touch input at all: its state is always empty, so only a controller moves the player.
class DummyControlScheme : public ControlScheme {
public:
    void draw(Graphics::Context*, Graphics::StandardShader*, glm::mat4 const&, float) override {}
    void touchMoved(glm::vec2 const&, uint32_t) override {}
    void touchBegan(glm::vec2 const&, uint32_t) override {}
    void touchEnded(glm::vec2 const&, uint32_t) override {}
    InputState& inputState() override { return input_; }
    void reset() override {}
    void update(float) override {}

private:
    InputState input_{0, 0, 0, 0, 0.0f};
};
