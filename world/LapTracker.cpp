#include "world/LapTracker.h"

#include <limits>

#include "level/Curves.h"

namespace Player {

void LapTracker::update(glm::vec2 position) {
    std::size_t const n = points_.size();
    if (n < 2 || !(points_.back().distance > 0.0f)) {
        return;
    }
    std::size_t best = 0;
    float bestT = 0.0f;
    float bestDistance = std::numeric_limits<float>::infinity();
    for (std::size_t i = 0; i + 1 < n; ++i) {
        glm::vec2 const curve[4] = {points_[i].point, points_[i].point + points_[i].outHandle,
                                    points_[i + 1].point + points_[i + 1].inHandle, points_[i + 1].point};
        BezierPoint const nearest = nearestPointOnBezier(position, curve);
        glm::vec2 const d = nearest.point - position;
        float const squared = d.x * d.x + d.y * d.y;
        if (squared < bestDistance) {
            bestDistance = squared;
            best = i;
            bestT = nearest.t;
        }
    }
    if (best != segment_ % n && best != (segment_ + 1) % n && best != (segment_ + 2) % n) {
        return;
    }
    float const progress =
        (points_[best].distance + bestT * (points_[best + 1].distance - points_[best].distance)) / points_.back().distance;
    if (best < segment_) {
        ++laps_;
        fraction_ = 0.0f;
        segment_ = 0;
    }
    if (progress > fraction_) {
        fraction_ = progress;
        segment_ = best;
    }
}

}  // namespace Player
