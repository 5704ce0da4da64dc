#pragma once
#include <glm/vec2.hpp>

#include <cstdint>
#include <functional>
#include <memory>

#include "os/services/PlatformServices.h"

namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics
namespace Audio {
class Context;
}

// A screen: the one object the app frame feeds with the frame, the draw passes and the input.
// Screens never replace themselves; they hand over through the callbacks they were given.
class ViewController {
public:
    // Codes passed to buttonPressed.
    static constexpr uint32_t buttonPause = 0x1000003;
    static constexpr uint32_t buttonBack = 0x1000000;
    static constexpr uint32_t buttonClearDive = 0x1000015;

    virtual ~ViewController();
    // The scene pass, drawn into the post-processing scene target.
    virtual void draw(Graphics::Context* graphics, Graphics::StandardShader* shader);
    // Drawn after the post-processing backdrop, over the scene.
    virtual void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) = 0;
    virtual void preDraw(Graphics::Context* graphics) = 0;
    // dt: the clamped frame time in ms (0..33.333336); now: ms since process start.
    virtual void update(Audio::Context& audio, float dt, float now) = 0;
    // Points are in virtual pixels; the u32 is the touch's tap count, not its identity.
    virtual void touchMoved(glm::vec2 const& point, uint32_t tapCount) = 0;
    virtual void touchBegan(glm::vec2 const& point, uint32_t tapCount) = 0;
    virtual void touchEnded(glm::vec2 const& point, uint32_t tapCount) = 0;
    virtual void buttonPressed(uint32_t code) = 0;
    virtual void gamepadInput(GamepadState const& state);
    // What takes the controller now: a box over the screen, or the page under it; null while
    // nothing does (the screen still coming up). The app frame takes a change of it as a change
    // of who takes the input (see AbstractApp::gamepadInput).
    virtual void const* inputTaker() const;
    // The taker of every level but a cut-scene, from its loading on: keys pressed while a level
    // loads, or held from one level into the next (a hardcore run goes on at the goal), steer in it.
    static void const* levelTaker() {
        static char const level = 0;
        return &level;
    }
    virtual void scrollPageBack();
    virtual void scrollPageForward();
    virtual bool isAtRootMenu();
    // The window lost the input focus while the game goes on drawing: a running level pauses.
    virtual void windowFocusLost();
};

// "zelv: screen NAME" on the error stream when a screen becomes current (by its class name) and
// when a menu inside one starts taking input: what the player is looking at, for whoever reads
// the log (scripted runs wait on these lines).
void logScreen(char const* name);
void logScreen(ViewController const& screen);

// Makes the given screen current and deletes the one that was (the caller); the caller must
// return at once without touching its members.
using InstallViewControllerCallback = std::function<void(std::unique_ptr<ViewController>&&)>;
