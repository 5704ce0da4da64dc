#include "world/CameraZone.h"

#include <box2d/b2_body.h>
#include <box2d/b2_fixture.h>

#include <cstdint>

#include "level/Fixtures.h"

CameraZone::CameraZone(PristineLevel::CameraZone const& record, b2Body* ground)
    : body_(ground), offset_(record.offset), duration_(record.duration), absolute_(record.follow),
      smooth_(record.smooth) {
    createFixtures(record.shapes, ground, FixtureOwner(this));
}

CameraZone::CameraZone(CameraZone&& other) noexcept
    : body_(other.body_), offset_(other.offset_), duration_(other.duration_), absolute_(other.absolute_),
      smooth_(other.smooth_) {
    if (body_ == nullptr) {
        return;
    }
    auto const from = reinterpret_cast<std::uintptr_t>(&other);
    for (b2Fixture* f = body_->GetFixtureList(); f != nullptr; f = f->GetNext()) {
        if (f->GetUserData().pointer == from) {
            f->GetUserData().pointer = reinterpret_cast<std::uintptr_t>(this);
        }
    }
}
