#include "os/shell/ControllerPoller.h"

namespace os {

ControllerPoller::Frame ControllerPoller::poll(std::vector<platform::GameController*> const& controllers,
                                               std::function<void()> const& pauseHandler) {
    bool const wasPresent = present_;
    present_ = false;
    Frame frame;
    for (platform::GameController* c : controllers) {
        if (!c) continue;
        if (!c->hasPausedHandler()) c->setPausedHandler(pauseHandler);
        GamepadState s;
        uint8_t dpad = 0;
        if (uint32_t const keys = c->keysDown()) {
            // A keyboard is its keys: each is an input of its own.
            s.keys = keys;
        } else if (auto g = c->gamepad()) {
            auto const e = c->extendedGamepad();
            s = padState(*g, e ? &*e : nullptr);
            dpad = g->dpadButtons;
        } else if (auto m = c->microGamepad()) {
            s.leftX = m->dpadX;
            s.leftY = m->dpadY;
            // The micro pad's buttons sit the other way round.
            s.buttonA = m->buttonX;
            s.buttonX = m->buttonA;
            c->setAllowsRotation(true);
        }
        present_ = true;
        frame.controllers.push_back({reinterpret_cast<uintptr_t>(c), s, dpad});
    }
    frame.connected = !wasPresent && present_;
    frame.present = present_;
    frame.disconnected = wasPresent && !present_;
    return frame;
}

}  // namespace os
