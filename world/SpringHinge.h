#pragma once
// A sprung hinge that sounds at its thresholds; stepped every world update.
#include "level/PristineLevel.h"

class SpringHinge {
public:
    explicit SpringHinge(PristineLevel::SoundHinge const&) {}
    void update() {}
};
