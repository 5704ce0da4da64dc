#include "world/AnimatedMesh.h"

#include <cstdio>
#include <cstring>

#include "level/Curves.h"

AnimatedMesh::AnimatedMesh(PristineLevel::MeshSet const& meshSet, DrawList* drawList,
                           PristineLevel::AnimatedMesh const& record, FrameData const& frameData,
                           Graphics::Context* graphics)
    : drawable_(meshSet, drawList, record.drawable),
      animation_(AnimatedValue::overRange(PristineLevel::WrapMode(record.wrapMode), record.from, record.to,
                                          record.rate, record.repeatCount, record.startOffset)),
      hideWhenFinished_(record.hideWhenFinished != 0),
      interpolation_(record.interpolation),
      track_(record.opacityKeys),
      graphics_(graphics) {
    std::vector<uint8_t> const* blob = record.frames < frameData.size() ? &frameData[record.frames] : nullptr;
    uint64_t const count = blob != nullptr && record.frameStride != 0 ? blob->size() / record.frameStride : 0;
    if (count == 0 || record.frameStride % sizeof(float) != 0) {
        std::fprintf(stderr, "AnimatedMesh: frames %u (stride %u) unusable; the mesh does not animate\n",
                     record.frames, record.frameStride);
        return;
    }
    frameCount_ = count;
    frames_.resize(std::size_t(count * record.frameStride / sizeof(float)));
    std::memcpy(frames_.data(), blob->data(), frames_.size() * sizeof(float));
    vertices_.assign(frames_.begin(), frames_.begin() + std::ptrdiff_t(record.frameStride / sizeof(float)));
    sample();
    drawable_.updateBounds();
}

void AnimatedMesh::sample() {
    float const x = animation_.value();
    interpolateFrame(interpolation_, frames_, std::size_t(frameCount_), vertices_, x);
    brightness_ = track_.empty() ? 1.0f : interpolateTrack(interpolation_, track_, x);
}

void AnimatedMesh::update(float dtMs) {
    if (!isEnabled() || !hasLeaf()) {
        return;
    }
    animation_.update(dtMs / 1000.0f);
    if (hideWhenFinished_ && animation_.isFinished()) {
        drawable_.hide();
    } else {
        drawable_.show();
    }
    if (!track_.empty()) {
        drawable_.setColor(glm::vec4(brightness_));
    }
    drawable_.updateBounds();
    if (visibleLastFrame_) {
        sample();
    }
}

void AnimatedMesh::draw() {
    if (!isEnabled() || !hasLeaf()) {
        return;
    }
    visibleLastFrame_ = drawable_.isVisible();
    if (visibleLastFrame_ && !drawable_.isHidden()) {
        drawable_.uploadVertices(graphics_, vertices_.data(), vertices_.size() * sizeof(float));
    }
}
