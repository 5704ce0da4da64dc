#pragma once
// The level's water volumes: sensor fixtures on the ground body whose user data points at their
// volume, and the fixtures touching each volume. The volumes are reserved to the record count
// and never move, since their fixtures point at them.
#include <glm/vec2.hpp>

#include <cstddef>
#include <vector>

#include "level/PristineLevel.h"

class b2Body;
class b2Fixture;
namespace Graphics {
class Context;
}
namespace Audio {
class Context;
}

class FluidVolume {
public:
    struct Touch {
        b2Fixture* fluid;
        b2Fixture* other;
        bool splashed;
    };

    FluidVolume(PristineLevel::Fluid const& record, b2Body* ground);

    void beginContact(b2Fixture* fluid, b2Fixture* other) { touching_.push_back(Touch{fluid, other, false}); }
    void endContact(b2Fixture* fluid, b2Fixture* other);
    void splash(glm::vec2 point, glm::vec2 velocity);
    void enable() { enabled_ = true; }
    void disable() { enabled_ = false; }
    bool isEnabled() const { return enabled_; }
    std::vector<Touch> const& touching() const { return touching_; }
    int splashes() const { return splashes_; }
    bool hasSplashes() const { return splashing_; }
    // Drag coefficient, lift coefficient, maximum drag, maximum lift.
    float const* getDragParameters() const { return drag_; }
    glm::vec2 flow() const { return flow_; }
    float buoyancy() const { return buoyancy_; }

private:
    std::vector<Touch> touching_;
    float drag_[4];
    glm::vec2 flow_;
    float buoyancy_;
    bool enabled_ = true;
    bool splashing_;
    int splashes_ = 0;
};

class Fluids {
public:
    Fluids(Graphics::Context* graphics, Audio::Context* audio, std::vector<PristineLevel::Fluid> const& records,
           b2Body* ground);
    Fluids(Fluids const&) = delete;
    Fluids& operator=(Fluids const&) = delete;

    bool isFluid(b2Fixture const* fixture) const;
    FluidVolume& getVolume(std::size_t index) { return volumes_[index]; }
    // The volume a fluid fixture points at.
    FluidVolume& volumeOf(b2Fixture const* fixture);
    std::size_t count() const { return volumes_.size(); }
    bool hasSplashes() const;
    void update(float) {}
    void drawSplashes() {}

private:
    std::vector<FluidVolume> volumes_;
};
