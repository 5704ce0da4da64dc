#pragma once
// The behaviour of one game mode inside the game screen. The screen calls update before the
// world, preDraw after the world's draw, drawOverlay after the HUD, the input slots after the
// control scheme, and setPaused on the hold and resume signals.
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>

#include <cstdint>

#include "os/services/PlatformServices.h"

class GameViewController;
namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

class GameModeStateMachine {
public:
    virtual ~GameModeStateMachine() = default;
    // dt in ms; t is the world's time.
    virtual void update(GameViewController& game, float dt, float t) = 0;
    virtual void preDraw(GameViewController& game) = 0;
    virtual void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader,
                             glm::mat4 const& hudMatrix) = 0;
    virtual void touchMoved(glm::vec2 const&, uint32_t) {}
    virtual void touchBegan(glm::vec2 const&, uint32_t) {}
    virtual void touchEnded(glm::vec2 const&, uint32_t) {}
    virtual void gamepadInput(GamepadState const&) {}
    virtual void setPaused(bool) {}
    // True when the mode consumed the button; false lets the screen open the pause menu.
    virtual bool buttonPressed(uint32_t) { return false; }
    // Whether a pause may start now, asked on every pause path (button, touch, focus loss).
    virtual bool allowsPause() const { return true; }
};
