#pragma once
// Progress of the player round a closed lap path: the nearest Bezier segment, never backwards
// within a lap, a lap counted when the nearest segment wraps round to the start.
#include <glm/vec2.hpp>

#include <cstdint>
#include <vector>

#include "level/LevelObjects.h"

namespace Player {

class LapTracker {
public:
    explicit LapTracker(std::vector<PristineLevel::PathNode>&& points) : points_(std::move(points)) {}

    // Nothing with fewer than two points, or a last distance that is not above 0.
    void update(glm::vec2 position);
    void reset() {
        segment_ = 0;
        fraction_ = 0.0f;
        laps_ = 0;
    }
    uint64_t laps() const { return laps_; }
    float fraction() const { return fraction_; }

private:
    std::vector<PristineLevel::PathNode> points_;
    uint64_t segment_ = 0;
    float fraction_ = 0.0f;
    uint64_t laps_ = 0;
};

}  // namespace Player
