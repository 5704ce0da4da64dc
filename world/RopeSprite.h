#pragma once
// A quad stretched between a joint's two anchors.
#include "level/PristineLevel.h"

class RopeSprite {
public:
    explicit RopeSprite(PristineLevel::JointSprite const&) {}
    void update(float) {}
    void draw() {}
};
