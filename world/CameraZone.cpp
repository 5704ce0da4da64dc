#include "world/CameraZone.h"

#include "level/Fixtures.h"

CameraZone::CameraZone(PristineLevel::CameraZone const& record, b2Body* ground) : offset_(record.offset), duration_(record.duration), absolute_(record.follow), smooth_(record.smooth) {
    createFixtures(record.shapes, ground, FixtureOwner(this));
}
