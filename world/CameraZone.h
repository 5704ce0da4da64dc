#pragma once
// A region whose fixtures pan the camera. Its fixtures point at the zone, so the world's vector
// of zones is reserved to the record count and never moves them.
#include "level/PristineLevel.h"

class b2Body;

class CameraZone {
public:
    CameraZone(PristineLevel::CameraZone const& record, b2Body* ground);

    glm::vec2 offset() const { return offset_; }
    float duration() const { return duration_; }
    // The stored flag: the offset is a world point, not one from the player.
    bool absolute() const { return absolute_; }
    bool smooth() const { return smooth_; }

private:
    glm::vec2 offset_;
    float duration_;
    bool absolute_;
    bool smooth_;
};
