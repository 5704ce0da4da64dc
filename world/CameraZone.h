#pragma once
// A region whose fixtures pan the camera while the player touches them. Its fixtures point at the
// zone; a zone that moves re-points them.
#include "level/PristineLevel.h"

class b2Body;

class CameraZone {
public:
    CameraZone(PristineLevel::CameraZone const& record, b2Body* ground);
    CameraZone(CameraZone&& other) noexcept;
    CameraZone(CameraZone const&) = delete;
    CameraZone& operator=(CameraZone const&) = delete;
    CameraZone& operator=(CameraZone&&) = delete;

    glm::vec2 offset() const { return offset_; }
    float duration() const { return duration_; }
    // The stored flag: the offset is a world point, not one from the player.
    bool absolute() const { return absolute_; }
    bool smooth() const { return smooth_; }

private:
    b2Body* body_;
    glm::vec2 offset_;
    float duration_;
    bool absolute_;
    bool smooth_;
};
