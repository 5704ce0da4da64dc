#pragma once
// The connected controllers: game controllers through SDL's controller database (plus the
// mappings in SDL_GAMECONTROLLERCONFIG and in the user's gamecontrollerdb.txt), each offering
// the standard and extended profiles with Start as the pause button, and the keyboard as one more
// extended controller once one of its keys has been used:
//   arrows or WASD  d-pad and left stick
//   Space A, Escape B, Shift X, Enter Y and A
//   P or Escape     pause
// Each controller's state is what its events made it, and the events of every controller reach
// the frames in the order they came: a frame takes at most one press, and never a press and its
// release, so a down and an up between two frames reach two frames and two presses act in turn.
#include <SDL.h>

#include <deque>
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

    // Connections and disconnections; the buttons, sticks and keys queued as they came.
    void handle(SDL_Event const& event);
    // Call after each frame's events: the controllers take the next frame's share of what is
    // queued (a pause press calls its handler then).
    void takeFrame();
    // In connection order, the keyboard last.
    std::vector<GameController*> controllers();
    // While text is typed into a field the keyboard reads as a controller with nothing held.
    void setTyping(bool typing);

    // The user mapping file: $XDG_CONFIG_HOME/zelv/gamecontrollerdb.txt (or ~/.config/...).
    static std::string userMappingFile();
    // The community's list of every known controller is about half a megabyte.
    static constexpr uint64_t kMaxMappingFileSize = 8u << 20;
    // Past this many queued changes a frame takes them without waiting, so presses mashed
    // through a long frame cost a short delay rather than a long one.
    static constexpr size_t kMaxQueued = 64;

private:
    class Device;
    class Pad;
    class Keyboard;
    // One button, key or axis of a controller taking a value (an axis's index past kAxisBase).
    struct Change {
        SDL_JoystickID device;  // kKeyboard for the keys
        uint8_t input;
        float value;
    };
    static constexpr SDL_JoystickID kKeyboard = -1;
    Device* device(SDL_JoystickID id);
    std::deque<Change> queue_;
    std::vector<std::unique_ptr<Pad>> pads_;
    std::unique_ptr<Keyboard> keyboard_;
    bool started_ = false;
};

}  // namespace platform
