#pragma once
// Racks driven by gears on level signals.
#include "level/PristineLevel.h"

class RackAndPinion {
public:
    explicit RackAndPinion(PristineLevel::RackAndPinion const&) {}
    void update() {}
};
