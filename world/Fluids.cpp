#include "world/Fluids.h"

#include <box2d/b2_fixture.h>

#include <algorithm>
#include <cstdint>

#include "level/Fixtures.h"
#include "physics/particles/Box2DAdapter.h"

FluidVolume::FluidVolume(PristineLevel::Fluid const& record, b2Body* ground)
    : drag_{record.dragCoefficient, record.liftCoefficient, record.maxDrag, record.maxLift},
      flow_(record.flow),
      buoyancy_(record.buoyancy),
      splashing_(record.silent == 0) {
    createFixtures(record.shapes, ground, FixtureOwner(this));
}

void FluidVolume::endContact(b2Fixture* fluid, b2Fixture* other) {
    touching_.erase(std::remove_if(touching_.begin(), touching_.end(),
                                   [&](Touch const& t) { return t.fluid == fluid && t.other == other; }),
                    touching_.end());
}

void FluidVolume::splash(glm::vec2, glm::vec2) { ++splashes_; }

Fluids::Fluids(Graphics::Context*, Audio::Context*, std::vector<PristineLevel::Fluid> const& records, b2Body* ground) {
    volumes_.reserve(records.size());
    for (PristineLevel::Fluid const& record : records) {
        volumes_.emplace_back(record, ground);
    }
}

bool Fluids::isFluid(b2Fixture const* fixture) const {
    if (volumes_.empty() || !fixture->IsSensor()) {
        return false;
    }
    auto const p = reinterpret_cast<std::uintptr_t>(Box2DAdapter::userDataPointer<FluidVolume const>(*fixture));
    auto const first = reinterpret_cast<std::uintptr_t>(volumes_.data());
    return p >= first && p - first < volumes_.size() * sizeof(FluidVolume) && (p - first) % sizeof(FluidVolume) == 0;
}

FluidVolume& Fluids::volumeOf(b2Fixture const* fixture) {
    return *const_cast<FluidVolume*>(Box2DAdapter::userDataPointer<FluidVolume const>(*fixture));
}

bool Fluids::hasSplashes() const {
    return std::any_of(volumes_.begin(), volumes_.end(), [](FluidVolume const& v) { return v.hasSplashes(); });
}
