#pragma once
// A level body moved along a keyframed path.
#include "level/PristineLevel.h"

class AnimatedBody {
public:
    explicit AnimatedBody(PristineLevel::AnimatedBody const&) {}
    void update(float) {}
};
