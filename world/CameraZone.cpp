#include "world/CameraZone.h"

#include "level/Fixtures.h"

CameraZone::CameraZone(PristineLevel::CameraZone const& record, b2Body* ground) : offset_(record.offset) {
    createFixtures(record.shapes, ground, FixtureOwner(this));
}
