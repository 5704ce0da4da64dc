#include "os/shell/ControllerPoller.h"

namespace os {

namespace {

// A NaN axis counts as input.
bool moved(float v) { return !(v == 0.0f); }

bool hasInput(GamepadState const& s) {
    return s.buttonY == 1 || s.buttonA == 1 || s.buttonX == 1 || s.buttonB == 1 || moved(s.dpadX) || moved(s.dpadY) ||
           moved(s.leftX) || moved(s.leftY) || moved(s.rightX) || moved(s.rightY);
}

// A pad's state from its profiles, as the keyboard's is made from its keys.
GamepadState stateOf(platform::GameController::Gamepad const& g, platform::GameController::Extended const* e) {
    GamepadState s;
    s.dpadX = g.dpadX;
    s.dpadY = g.dpadY;
    s.buttonY = g.buttonY;
    s.buttonA = g.buttonA;
    s.buttonX = g.buttonX;
    s.buttonB = g.buttonB;
    if (e) {
        s.leftX = e->leftX;
        s.leftY = e->leftY;
        s.rightX = e->rightX;
        s.rightY = e->rightY;
    }
    return s;
}

}  // namespace

ControllerPoller::Frame ControllerPoller::poll(std::vector<platform::GameController*> const& controllers,
                                               std::function<void()> const& pauseHandler) {
    bool const wasPresent = present_;
    present_ = false;
    Frame frame;
    for (platform::GameController* c : controllers) {
        if (!c) continue;
        if (!c->hasPausedHandler()) c->setPausedHandler(pauseHandler);
        GamepadState s;
        if (auto g = c->gamepad()) {
            auto const e = c->extendedGamepad();
            s = stateOf(*g, e ? &*e : nullptr);
        } else if (auto m = c->microGamepad()) {
            s.leftX = m->dpadX;
            s.leftY = m->dpadY;
            // The micro pad's buttons sit the other way round.
            s.buttonA = m->buttonX;
            s.buttonX = m->buttonA;
            c->setAllowsRotation(true);
        }
        s.keys = c->keysDown();
        present_ = true;
        if (hasInput(s)) {
            frame.state = s;
            break;
        }
    }
    frame.connected = !wasPresent && present_;
    frame.present = present_;
    frame.disconnected = wasPresent && !present_;
    return frame;
}

GamepadState ControllerPoller::keyboardState(uint32_t keys) {
    platform::KeyboardProfiles const p = platform::keyboardProfiles(keys);
    GamepadState s = stateOf(p.gamepad, &p.extended);
    s.keys = keys;
    return s;
}

}  // namespace os
