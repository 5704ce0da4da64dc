#pragma once
// The frame loop's controller rule: walks the connected controllers in order, takes the first
// one with any input as the frame's state, and tells when the first controller appears and the
// last one goes.
#include <functional>
#include <vector>

#include "os/services/PlatformServices.h"
#include "platform/GameController.h"

namespace os {

class ControllerPoller {
public:
    struct Frame {
        bool connected = false;     // none last frame, one now
        bool present = false;       // send the state this frame
        bool disconnected = false;  // one last frame, none now
        GamepadState state;
    };

    // pauseHandler goes to every controller that has none yet.
    Frame poll(std::vector<platform::GameController*> const& controllers, std::function<void()> const& pauseHandler);
    bool present() const { return present_; }
    // What a keyboard with these keys down reports (the frame's state when it is the keyboard's).
    static GamepadState keyboardState(uint32_t keys);

private:
    bool present_ = false;
};

}  // namespace os
