#include "world/AnimatedTexture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
SpriteSheetAnimation::Parameters sheetOf(PristineLevel::AnimatedTexture const& r) {
    return SpriteSheetAnimation::Parameters(r.rows, r.columns, r.frameCount, r.startFrame, r.playSignal == 0,
                                            r.framesPerSecond);
}

// A fade step; an infinite rate (a time of 0) jumps at once.
float faded(float fade, float rate, float dt, float sign) {
    if (std::isinf(rate)) {
        return sign > 0.0f ? 1.0f : 0.0f;
    }
    float const next = fade + sign * rate * dt;
    return std::isfinite(next) ? std::clamp(next, 0.0f, 1.0f) : fade;
}
}  // namespace

AnimatedTexture::AnimatedTexture(PristineLevel::MeshSet const& meshSet, DrawList* drawList,
                                 PristineLevel::AnimatedTexture const& record, Graphics::Context* graphics)
    : quad_(meshSet, *drawList, record.drawable),
      animation_(sheetOf(record)),
      fade_(record.visible != 0 ? 1.0f : 0.0f),
      fadeInRate_(1.0f / record.fadeInTime),
      fadeOutRate_(1.0f / record.fadeOutTime),
      shown_(record.visible != 0),
      active_(record.visible != 0),
      enabled_(record.frameCount != 0 && record.columns != 0 && record.rows != 0),
      graphics_(graphics) {
    if (!enabled_) {
        std::fprintf(stderr, "AnimatedTexture: %u frames in %u x %u; left out\n", record.frameCount, record.rows,
                     record.columns);
    }
    if (glm::vec4 const* color = quad_.colorPointer()) {
        baseColor_ = *color;
    }
    quad_.hide();
}

void AnimatedTexture::update(float dt) {
    if (!enabled_) {
        return;
    }
    fade_ = shown_ && active_ ? faded(fade_, fadeInRate_, dt, 1.0f) : faded(fade_, fadeOutRate_, dt, -1.0f);
    animation_.update(dt);
    quad_.setUVOffset(animation_.getUvOffset());
    quad_.show();
    quad_.update(true, true);
    if (!animation_.isPlaying() || fade_ <= 0.0f) {
        quad_.hide();
    } else {
        quad_.setColor(baseColor_ * fade_);
    }
}

void AnimatedTexture::draw() {
    if (enabled_) {
        quad_.upload(graphics_);
    }
}
