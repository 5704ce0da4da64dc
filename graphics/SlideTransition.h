#pragma once
// The start of a menu slide: where the sliding layer begins, how fast it moves and when the
// menus running it consider it arrived.
#include <cstdint>

struct SlideTransition {
    float x = 0.0f;  // start offset
    float y = 0.0f;
    float rate = 0.0f;
    float firstThreshold = 0.0f;
    float secondThreshold = 0.0f;
    float current = 0.0f;  // starts at x
    float reserved[2] = {0.0f, 0.0f};
};
static_assert(sizeof(SlideTransition) == 32);

// Directions 1 to 5 (anything else slides down by the screen width); `slow` for the long slides.
SlideTransition slideTransition(int32_t direction, bool slow);
SlideTransition slideTransition(int32_t direction, bool slow, float screenWidth, float screenHeight);
