#include "menus/SineRamp.h"

#include <cmath>

namespace {
// The single-precision pi and its derived constants the curves were tuned with.
constexpr float pi = 3.1415927f;
constexpr float twoOverPi = 0.63661975f;
constexpr float halfPi = 1.5707964f;
}  // namespace

float sineRamp(float t, float a, float b) {
    float const easeIn = 2.0f * a / pi;
    float const total = easeIn + (b - a) + 2.0f * (1.0f - b) / pi;
    float r;
    if (t < a) {
        r = float(a * twoOverPi * (std::sin(double(t / a * pi * 0.5f - halfPi)) + 1.0));
    } else if (t < b) {
        r = easeIn + t - a;
    } else if (b < 1.0f) {
        r = float((easeIn + b - a) + (1.0f - b) * twoOverPi * std::sin(double((t - b) / (1.0f - b) * pi * 0.5f)));
    } else {
        // No ease-out part: its division would be 0 / 0.
        r = easeIn + b - a;
    }
    return r / total;
}

float pulseCurve(int n, float t) {
    double p = std::pow(1.0 - 2.0 * double(t), double(n));
    if (n >= 3) p = std::fabs(p);
    return float(1.0 - p);
}
