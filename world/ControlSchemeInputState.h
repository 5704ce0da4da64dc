#pragma once
// What the control schemes hand the player each frame.
#include <cstdint>

struct ControlSchemeInputState {
    uint8_t left = 0;
    uint8_t right = 0;
    uint8_t jump = 0;
    uint8_t dive = 0;
    float moveAmount = 1.0f;  // 1: full

    ControlSchemeInputState() = default;
    ControlSchemeInputState(uint8_t jump, uint8_t left, uint8_t right, uint8_t dive, float amount)
        : left(left), right(right), jump(jump), dive(dive), moveAmount(amount) {}

    // Nothing pressed and no move amount: a controller at rest.
    bool isEmpty() const { return left == 0 && right == 0 && jump == 0 && dive == 0 && moveAmount == 0.0f; }
};
