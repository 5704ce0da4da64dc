#pragma once
// The controllers' inputs as the app frame hands them to the input's taker. Each key of a
// keyboard and each button and each side of each axis of a pad is an input of its own, with the
// frame it went down. A change of the taker keeps the frame it began: an input down before that
// and down since is held over, no press for the next taker until let go. Every other press is
// fresh for the next taker, one made and let go during the change included: it is down for that
// taker's first frame. What is left of every controller is combined into one state; where two
// inputs push one axis opposite ways the later pressed wins, and the earlier then stays at rest
// until let go (two pressed at once both do).
#include <cstdint>
#include <vector>

#include "os/services/PlatformServices.h"
#include "platform/GameController.h"

namespace os {

// A pad's state from its profiles (the extended one when it has it).
GamepadState padState(platform::GameController::Gamepad const& g, platform::GameController::Extended const* e);

// One connected controller's state in a frame: a keyboard's keys (state.keys, the rest at rest),
// or a pad's buttons and axes.
struct ControllerState {
    uintptr_t controller = 0;  // its own while it stays connected
    GamepadState state;
};

class Presses {
public:
    // The frame's states of every connected controller; one not listed is gone.
    void read(std::vector<ControllerState> const& controllers);
    // A change of the taker began. With the last read: the frame's events changed it, so what was
    // down at that read was down as it began. Else it began after the read before (in an update).
    // A change under way keeps the frame it began.
    void changeBegan(bool withLastRead);
    bool changing() const { return changing_; }
    // What the taker gets from the last read. Ends a change: what was down as it began is held
    // over, and a press made and let go since is down this once.
    GamepadState take();

private:
    // Key bits first (platform::KeyboardKey), then a pad's A, B, X, Y, then the negative and the
    // positive side of each axis, in GamepadState's order.
    static constexpr uint32_t kKeys = 14, kButtons = 4, kAxes = 6, kInputs = kKeys + kButtons + 2 * kAxes;
    struct Input {
        uintptr_t controller = 0;
        uint32_t index = 0;
        bool down = false;
        uint64_t downAt = 0;  // the read it went down at
        float value = 0;      // how far, for an axis
        bool heldOver = false;
        bool overridden = false;  // an opposite press came after it
    };
    // How far the input is down in a controller's state, 0 when up.
    static float amount(GamepadState const& s, uint32_t index);
    // What the input alone would make of the taker's state.
    static GamepadState pushOf(Input const& input);
    static bool opposed(GamepadState const& a, GamepadState const& b);
    Input* find(uintptr_t controller, uint32_t index);

    // Those down, and those let go that may still be a press made during a change.
    std::vector<Input> inputs_;
    uint64_t read_ = 0;
    uint64_t changeBegan_ = 0;
    // No taker has taken a state since the change began (from the start: nothing is held over).
    bool changing_ = true;
};

}  // namespace os
