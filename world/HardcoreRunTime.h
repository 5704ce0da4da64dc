#pragma once
// The time of the hardcore run under way, in ms. It outlives every level: the hardcore mode adds
// each level it finishes, and the player's death adds the level that ends the run.
struct HardcoreRunTime {
    static inline float total = 0.0f;
};
