#pragma once
// An easing of t in [0, 1]: a quarter-sine ease-in up to a, linear from a to b, a quarter-sine
// ease-out after b, scaled so that it runs from 0 to 1. Breakpoints a <= b in [0, 1].
#include <algorithm>
#include <cmath>

inline float sineRamp(float t, float a, float b) {
    constexpr float halfPi = 1.57079632679f;
    constexpr float twoOverPi = 0.636619772f;
    t = std::clamp(t, 0.0f, 1.0f);
    float const total = twoOverPi * a + (b - a) + twoOverPi * (1.0f - b);
    float f;
    if (t < a) {
        f = twoOverPi * a * (1.0f - std::cos(t / a * halfPi));
    } else if (t <= b) {
        f = twoOverPi * a + (t - a);
    } else {
        f = twoOverPi * a + (b - a) + twoOverPi * (1.0f - b) * std::sin((t - b) / (1.0f - b) * halfPi);
    }
    return total > 0.0f ? f / total : t;
}
