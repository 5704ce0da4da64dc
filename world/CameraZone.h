#pragma once
// A region whose fixtures pan the camera. Its fixtures point at the zone, so the world's vector
// of zones is reserved to the record count and never moves them.
#include "level/PristineLevel.h"

class b2Body;

class CameraZone {
public:
    CameraZone(PristineLevel::CameraZone const& record, b2Body* ground);

    glm::vec2 offset() const { return offset_; }

private:
    glm::vec2 offset_;
};
