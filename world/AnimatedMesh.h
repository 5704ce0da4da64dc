#pragma once
// A level mesh animated through vertex frames; level signals drive its animated value.
#include <vector>

#include "level/PristineLevel.h"
#include "world/AnimatedValue.h"

class DrawList;

class AnimatedMesh {
public:
    template <class FrameData>
    AnimatedMesh(PristineLevel::MeshSet const&, DrawList*, PristineLevel::AnimatedMesh const& record, FrameData const&)
        : animation_(AnimatedValue::overRange(PristineLevel::WrapMode(record.wrapMode), record.from, record.to,
                                              record.rate, record.repeatCount, record.startOffset)) {}

    AnimatedValue& animation() { return animation_; }
    void update(float dtMs) { animation_.update(dtMs / 1000.0f); }
    void draw() {}

private:
    AnimatedValue animation_;
};
