#pragma once
#include <glm/vec2.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "level/PristineLevelBasics.h"

// Per-frame numeric helpers of the level objects: wrapping times and values into ranges,
// nearest points on cubic Bezier segments and sampling of per-frame float tracks.

// Folds a running time into [0, duration]. Negative times wrap by their absolute value.
// An unknown mode, or a duration of 0 for the folding modes, gives 0.
float wrapTime(PristineLevel::WrapMode mode, float t, float duration);

// Maps progress t x rate into [min, max]. An unknown mode gives 0; an empty range gives min.
float wrapBetween(PristineLevel::WrapMode mode, float t, float min, float max, float rate);

struct BezierPoint {
    glm::vec2 point;
    float t = 0.0f;
};

// The point of the cubic Bezier segment v[0..3] nearest to p, and its parameter.
BezierPoint nearestPointOnBezier(glm::vec2 p, const glm::vec2 v[4]);

// Writes into `out` frame x of `frames`, which holds frameCount frames of equal size: the nearest
// frame in mode 0, else a blend of the two frames around x where the last one blends into frame 0.
// Positions past the last frame wrap round to the first; x that is not a number writes nothing.
void interpolateFrame(std::uint8_t mode, const std::vector<float>& frames, std::size_t frameCount,
                      std::vector<float>& out, float x);

// One value of a per-frame track at position x, by the rules of interpolateFrame. An empty track
// (or an x that is not a number) gives 1.0, the value an absent track stands for.
float interpolateTrack(std::uint8_t mode, const std::vector<float>& track, float x);
