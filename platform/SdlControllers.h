#pragma once
// The connected controllers: game controllers through SDL's controller database (plus the
// mappings in SDL_GAMECONTROLLERCONFIG and in the user's gamecontrollerdb.txt), each offering
// the standard and extended profiles with Start as the pause button, and the keyboard as one more
// extended controller once one of its keys has been used:
//   arrows or WASD  d-pad and left stick
//   Space A, Escape B, Shift X, Enter Y and A
//   P or Escape     pause
#include <SDL.h>

#include <memory>
#include <vector>

#include "platform/GameController.h"

namespace platform {

class SdlControllers {
public:
    SdlControllers();
    ~SdlControllers();
    SdlControllers(SdlControllers const&) = delete;
    SdlControllers& operator=(SdlControllers const&) = delete;

    // Call before each frame's events: keys tapped in the last frame are let go.
    void newFrame();
    // Connections, disconnections, pause presses and keys.
    void handle(SDL_Event const& event);
    // In connection order, the keyboard last.
    std::vector<GameController*> controllers();
    // While text is typed into a field the keyboard reads as a controller with nothing held.
    void setTyping(bool typing);

    // The user mapping file: $XDG_CONFIG_HOME/zelv/gamecontrollerdb.txt (or ~/.config/...).
    static std::string userMappingFile();
    // The community's list of every known controller is about half a megabyte.
    static constexpr uint64_t kMaxMappingFileSize = 8u << 20;

private:
    class Pad;
    class Keyboard;
    std::vector<std::unique_ptr<Pad>> pads_;
    std::unique_ptr<Keyboard> keyboard_;
    bool started_ = false;
};

}  // namespace platform
