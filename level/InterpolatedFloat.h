#pragma once

// A value that is reached gradually: `speed` value units per unit of the step the caller passes.
struct InterpolatedFloat {
    float target = 0.0f;
    float speed = 0.0f;

    // Moves `current` toward the target by speed x step without overshooting; true once the
    // target is reached exactly. A target that is not a finite number counts as reached and
    // leaves `current` alone, so a damaged level cannot keep a stepping task alive for ever.
    bool moveToward(float& current, float step) const;
};
