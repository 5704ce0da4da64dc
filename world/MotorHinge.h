#pragma once
// A hinge driven by its motor; it runs by itself.
#include "level/PristineLevel.h"

class MotorHinge {
public:
    explicit MotorHinge(PristineLevel::MotorHinge const&) {}
};
