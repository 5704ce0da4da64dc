#include "graphics/SpriteSheetAnimation.h"

#include <algorithm>
#include <cmath>

SpriteSheetAnimation::Parameters::Parameters(uint32_t rows, uint32_t columns, uint32_t frameCount,
                                             uint32_t startFrame, bool loop, float framesPerSecond)
    : rows(rows), columns(columns), frameCount(frameCount), framesPerSecond(framesPerSecond),
      startFrame(startFrame), loop(loop ? 1 : 0) {}

SpriteSheetAnimation::SpriteSheetAnimation(Parameters const& parameters) : parameters_(parameters) {
    // An empty grid or no frames would divide by zero below: treat it as one cell.
    parameters_.rows = std::max<uint32_t>(parameters_.rows, 1);
    parameters_.columns = std::max<uint32_t>(parameters_.columns, 1);
    parameters_.frameCount = std::max<uint32_t>(parameters_.frameCount, 1);
    uvScale_ = glm::vec2(1.0f / float(parameters_.columns), 1.0f / float(parameters_.rows));
    // A looping sheet plays from the start; a one-shot waits for its restart.
    playing_ = parameters_.loop;
}

void SpriteSheetAnimation::update(float dt) {
    if (!playing_) return;
    Parameters const& p = parameters_;
    float const frameMs = p.framesPerSecond > 0.0f ? 1000.0f / p.framesPerSecond : INFINITY;
    if (!std::isfinite(elapsed_) || elapsed_ < 0.0f) elapsed_ = 0.0f;  // a bad dt restarts the run
    double const frames = std::floor(double(elapsed_) / double(frameMs));
    frame_ = uint32_t((uint64_t(std::min(frames, 1e15)) + p.startFrame) % p.frameCount);
    uvOffset_ = glm::vec2(float(frame_ % p.columns) / float(p.columns), float(frame_ / p.columns) / float(p.rows));
    if (!p.loop && elapsed_ > float(p.frameCount) * frameMs) {
        elapsed_ = 0.0f;
        playing_ = 0;
    }
    elapsed_ += dt;
}

void SpriteSheetAnimation::restart() {
    elapsed_ = 0.0f;
    playing_ = 1;
}
