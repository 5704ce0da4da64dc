#pragma once
// A menu: what an owning screen drives by passing its own calls on (drawOverlay to draw with
// the screen's projection, update with dt in ms, input). Menus take the controller's pause
// button (ViewController::buttonPause) as "back".
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>

#include <cstdint>

#include "os/services/PlatformServices.h"

namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

class Menu {
public:
    virtual ~Menu() = default;
    virtual void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection) = 0;
    virtual void update(float dt) = 0;
    // Vertex and text preparation before the frame's draws.
    virtual void preDraw() = 0;
    virtual void touchMoved(glm::vec2 const& point, unsigned touch) = 0;
    virtual void touchBegan(glm::vec2 const& point, unsigned touch) = 0;
    virtual void touchEnded(glm::vec2 const& point, unsigned touch) = 0;
    virtual void scrollPageBack() = 0;
    virtual void scrollPageForward() = 0;
    virtual void gamepadInput(GamepadState const& state) = 0;
    // The box over the page that takes the controller, or the page itself.
    virtual void const* inputTaker() const { return this; }
    virtual void buttonPressed(unsigned code) = 0;
};
