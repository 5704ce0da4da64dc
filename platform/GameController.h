#pragma once
// One connected game controller, as the frame loop reads it: the profiles it offers and the
// handler its pause button calls.
#include <cstdint>
#include <functional>
#include <optional>

namespace platform {

class GameController {
public:
    // The standard profile: d-pad (-1..1, y up) and the four face buttons.
    struct Gamepad {
        float dpadX = 0, dpadY = 0;
        bool buttonA = false, buttonB = false, buttonX = false, buttonY = false;
        // A d-pad of four buttons: those down, two opposite ones included (dpadX and dpadY net
        // them to 0).
        uint8_t dpadButtons = 0;
    };
    static constexpr uint8_t kDpadLeft = 1, kDpadRight = 2, kDpadDown = 4, kDpadUp = 8;
    // How far a stick is pushed for a menu step.
    static constexpr float kStep = 0.5f;
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
    // A controller made of keys: the keys down, one bit each (KeyboardKey), from which every
    // input it reports is made. Two keys can make one input; a pad reports 0.
    virtual uint32_t keysDown() const { return 0; }
};

// The keyboard's keys that drive inputs, one bit each.
enum KeyboardKey : uint32_t {
    kKeyLeft = 1u << 0,
    kKeyRight = 1u << 1,
    kKeyUp = 1u << 2,
    kKeyDown = 1u << 3,
    kKeyA = 1u << 4,
    kKeyD = 1u << 5,
    kKeyW = 1u << 6,
    kKeyS = 1u << 7,
    kKeySpace = 1u << 8,
    kKeyReturn = 1u << 9,
    kKeyPadEnter = 1u << 10,
    kKeyEscape = 1u << 11,
    kKeyLeftShift = 1u << 12,
    kKeyRightShift = 1u << 13,
};

// What a keyboard with these keys down reports: arrows or WASD the d-pad and the left stick,
// Space A, Escape B, Shift X, Enter Y and A.
struct KeyboardProfiles {
    GameController::Gamepad gamepad;
    GameController::Extended extended;
};
inline KeyboardProfiles keyboardProfiles(uint32_t keys) {
    auto down = [keys](uint32_t k) { return (keys & k) != 0; };
    auto pair = [](bool negative, bool positive) { return (positive ? 1.0f : 0.0f) - (negative ? 1.0f : 0.0f); };
    KeyboardProfiles p;
    GameController::Gamepad& g = p.gamepad;
    g.dpadX = pair(down(kKeyLeft | kKeyA), down(kKeyRight | kKeyD));
    g.dpadY = pair(down(kKeyDown | kKeyS), down(kKeyUp | kKeyW));
    // Enter is also A, so it picks the focused menu button; in a level A and Y both jump.
    g.buttonA = down(kKeySpace | kKeyReturn | kKeyPadEnter);
    g.buttonB = down(kKeyEscape);
    g.buttonX = down(kKeyLeftShift | kKeyRightShift);
    g.buttonY = down(kKeyReturn | kKeyPadEnter);
    p.extended.leftX = g.dpadX;
    p.extended.leftY = g.dpadY;
    return p;
}

}  // namespace platform
