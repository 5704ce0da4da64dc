#pragma once
// The frame loop's controller rule: reads every connected controller, and tells when the first
// controller appears and the last one goes.
#include <functional>
#include <vector>

#include "os/Presses.h"
#include "platform/GameController.h"

namespace os {

class ControllerPoller {
public:
    struct Frame {
        bool connected = false;     // none last frame, one now
        bool present = false;       // send the states this frame
        bool disconnected = false;  // one last frame, none now
        std::vector<ControllerState> controllers;
    };

    // pauseHandler goes to every controller that has none yet.
    Frame poll(std::vector<platform::GameController*> const& controllers, std::function<void()> const& pauseHandler);
    bool present() const { return present_; }

private:
    bool present_ = false;
};

}  // namespace os
