#pragma once
// The two ropes of a pulley joint, one quad each.
#include "level/PristineLevel.h"

class PulleyRopeSprite {
public:
    explicit PulleyRopeSprite(PristineLevel::JointSpritePair const&) {}
    void update(float) {}
    void draw() {}
};
