#pragma once
// One connected game controller, as the frame loop reads it: the profiles it offers and the
// handler its pause button calls.
#include <functional>
#include <optional>

namespace platform {

class GameController {
public:
    // The standard profile: d-pad (-1..1, y up) and the four face buttons.
    struct Gamepad {
        float dpadX = 0, dpadY = 0;
        bool buttonA = false, buttonB = false, buttonX = false, buttonY = false;
    };
    // The extended profile's thumbsticks (-1..1, y up).
    struct Extended {
        float leftX = 0, leftY = 0, rightX = 0, rightY = 0;
    };
    // The micro profile: a touch d-pad and two buttons.
    struct Micro {
        float dpadX = 0, dpadY = 0;
        bool buttonA = false, buttonX = false;
    };

    virtual ~GameController() = default;
    virtual bool hasPausedHandler() const = 0;
    virtual void setPausedHandler(std::function<void()> handler) = 0;
    virtual std::optional<Gamepad> gamepad() const = 0;
    virtual std::optional<Extended> extendedGamepad() const = 0;
    virtual std::optional<Micro> microGamepad() const { return std::nullopt; }
    virtual void setAllowsRotation(bool) {}
};

}  // namespace platform
