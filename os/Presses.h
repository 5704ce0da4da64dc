#pragma once
// The controllers' inputs as the app frame hands them to the input's taker. Each key of a
// keyboard and each button, each d-pad button and each side of each axis of a pad is an input of
// its own, with the frame it went down. A change of the taker keeps the frame it began: an input
// down before that and down since is held over, no press for the next taker until let go (an axis
// counts as down there only pushed as far as a menu step: pushed that far from short of it, it is
// a fresh press). Every other press is fresh for the next taker, one made and let go during the
// change included: the presses of the change reach it one after another in the order they were
// made (one pushed over by a later opposite too), each down for a frame of its own with a frame
// between, a stick's as far as it went; then what is still down stays.
// What is left of every controller is combined into one state; where two inputs push one
// direction opposite ways (the d-pad and the left stick are one direction, each stick's other
// axis its own) the later pressed wins, and the earlier then stays at rest until let go (two
// pressed at once both do).
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
    // A pad's d-pad buttons down (platform::GameController::kDpadLeft...): two opposite can be
    // down at once, where the state's dpadX and dpadY net them to 0.
    uint8_t dpad = 0;
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
    // over, and the presses made since are handed over one at a time, a take each.
    GamepadState take();
    // A press of the pause, made during a change, has handed the input over: the other presses
    // made meanwhile are spent with it, and what is down now is held over.
    void spend();

    // How far an axis is pushed for a menu step, and for an input held over to count as down.
    static constexpr float kStep = platform::GameController::kStep;
    // Presses made and let go during a change that are kept for the next taker; older ones go.
    static constexpr size_t kMaxTaps = 32;

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
        float peak = 0;       // the farthest since it went down
        bool heldOver = false;
        bool overridden = false;  // an opposite press came after it
        bool handed = false;      // a press of a change, already handed to its taker
    };
    // How far the input is down in a controller's state, 0 when up.
    static float amount(ControllerState const& c, uint32_t index);
    // What the input alone would make of the taker's state.
    static GamepadState pushOf(Input const& input);
    static bool opposed(GamepadState const& a, GamepadState const& b);
    // One state of the inputs given; of opposite pushes the later pressed.
    static GamepadState settle(std::vector<Input const*> const& taken);
    // The one of this input that is down.
    Input* findDown(uintptr_t controller, uint32_t index);
    // A press of the last change still to be handed to the taker.
    bool waiting(Input const& i) const { return handing_ && i.downAt > changeBegan_ && !i.handed; }
    bool keptAfterLetGo(Input const& i) const {
        return (changing_ || handing_) && i.downAt > changeBegan_ && !i.handed;
    }

    // Those down, and those let go that may still be a press made during a change.
    std::vector<Input> inputs_;
    uint64_t read_ = 0;
    uint64_t changeBegan_ = 0;
    // No taker has taken a state since the change began (from the start: nothing is held over).
    bool changing_ = true;
    // The change's presses are being handed over; the next take lets the last one go first.
    bool handing_ = false;
    bool gap_ = false;
};

}  // namespace os
