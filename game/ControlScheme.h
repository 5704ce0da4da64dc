#pragma once
// Turns touches into the input state the player reads each frame, and draws its own controls as
// part of the HUD. Schemes count touches; none tells them apart by id.
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>

#include <cstdint>
#include <memory>

#include "world/ControlSchemeInputState.h"

namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

class ControlScheme {
public:
    using InputState = ControlSchemeInputState;

    virtual ~ControlScheme() = default;
    // alpha: the HUD's controls alpha.
    virtual void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& hudMatrix,
                      float alpha) = 0;
    // Points in virtual pixels, y up.
    virtual void touchMoved(glm::vec2 const& point, uint32_t touch) = 0;
    virtual void touchBegan(glm::vec2 const& point, uint32_t touch) = 0;
    virtual void touchEnded(glm::vec2 const& point, uint32_t touch) = 0;
    // The live state; callers may change it.
    virtual InputState& inputState() = 0;
    // Forget every touch and clear the input.
    virtual void reset() = 0;
    virtual void update(float dt) = 0;
    virtual void setStickVisible(bool) {}
    // The string key of a short reminder of how this scheme moves and jumps; null when it has
    // no touch controls to tell of.
    virtual char const* controlsHintKey() const { return nullptr; }
};

// The scheme for a saved choice: 0 touch-and-swipe, anything else on-screen buttons; the dummy
// scheme on a device without a touch screen.
std::unique_ptr<ControlScheme> makeControlScheme(uint8_t choice, Graphics::Context* graphics);
