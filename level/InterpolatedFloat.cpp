#include "level/JointDefinitions.h"

#include <cmath>

bool InterpolatedFloat::moveToward(float& current, float step) const {
    if (!std::isfinite(target)) {
        return true;
    }
    if (!std::isfinite(current)) {
        current = target;  // nothing sensible to move from
        return true;
    }
    float const d = target - current;
    bool const up = d > 0.0f;
    float candidate = current + speed * step * (up ? 1.0f : -1.0f);
    if (std::isnan(candidate)) {
        candidate = current;  // a NaN speed or step moves nothing, like a speed of 0
    }
    // Clamp into [current, target] going up, [target, current] going down: never past the target
    // and never backward (a negative speed stays put).
    if (up) {
        candidate = candidate < current ? current : (candidate > target ? target : candidate);
    } else {
        candidate = candidate > current ? current : (candidate < target ? target : candidate);
    }
    current = candidate;
    return current == target;
}
