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

    // pauseHandler goes to every controller that has none yet; bPressed runs for each standard
    // controller whose B is down (before the walk may stop there).
    Frame poll(std::vector<platform::GameController*> const& controllers, std::function<void()> const& pauseHandler,
               std::function<void()> const& bPressed);
    bool present() const { return present_; }

private:
    bool present_ = false;
};

}  // namespace os
