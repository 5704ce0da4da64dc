#pragma once
// The level's water volumes: sensor fixtures on the ground body whose user data points at their
// volume. An enabled volume pushes the dynamic polygon bodies overlapping it with buoyancy, drag
// and lift from the exact overlap polygon, and splashes when something enters it.
#include <glm/vec2.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "audio/Sound.h"
#include "graphics/Splash.h"
#include "level/PristineLevel.h"

class b2Body;
class b2Fixture;
namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics
namespace Audio {
class Context;
}

class FluidVolume {
public:
    struct Contact {
        b2Fixture* fluid;
        b2Fixture* other;
        bool splashed;
    };
    inline static constexpr std::size_t splashCount = 4;
    inline static constexpr std::size_t soundSlots = 6;
    // Below this overlap area a contact gets no forces: the centroid divides by it.
    inline static constexpr float minimumArea = 1.1920929e-7f;

    FluidVolume(Graphics::Context* graphics, Audio::Context* audio, PristineLevel::Fluid const& record, b2Body* body);
    // Re-points the body's fixtures at the new address.
    FluidVolume(FluidVolume&& other) noexcept;
    FluidVolume(FluidVolume const&) = delete;
    FluidVolume& operator=(FluidVolume const&) = delete;
    FluidVolume& operator=(FluidVolume&&) = delete;

    void beginContact(b2Fixture* fluid, b2Fixture* other) { contacts_.push_back(Contact{fluid, other, false}); }
    void endContact(b2Fixture* fluid, b2Fixture* other);
    void update(float dt);
    void orientSplashes();
    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader);
    void enable() { enabled_ = true; }
    void disable() { enabled_ = false; }
    bool isEnabled() const { return enabled_; }
    std::vector<Contact> const& touching() const { return contacts_; }
    bool hasSplashes() const { return !splashes_.empty(); }
    std::vector<Splash> const& splashes() const { return splashes_; }
    // Drag coefficient, lift coefficient, maximum drag, maximum lift.
    float const* getDragParameters() const { return drag_.data(); }
    glm::vec2 flow() const { return flow_; }
    float buoyancy() const { return buoyancy_; }
    // The gain of the last splash sound and how many splashes started.
    float lastSplashGain() const { return lastGain_; }
    int splashesStarted() const { return splashesStarted_; }

    // Starts a free splash at p with the sound's gain following |v| / 15; false when all four are
    // busy (the caller tries again later).
    bool splash(glm::vec2 p, glm::vec2 v);

private:
    bool splashTest(Contact& contact);
    void push(Contact const& contact, float dt);

    b2Body* body_;
    std::array<float, 4> drag_;
    float buoyancy_;
    glm::vec2 flow_;
    bool silent_;
    std::vector<Splash> splashes_;
    std::vector<Contact> contacts_;
    bool enabled_ = false;
    std::array<std::optional<Sound>, soundSlots> sounds_;
    uint64_t nextSound_ = 0;
    float lastGain_ = 0.0f;
    int splashesStarted_ = 0;
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
    void update(float dt);
    // Turns the running splashes toward their bodies' velocities for this frame's draw.
    void drawSplashes();

private:
    std::vector<FluidVolume> volumes_;
};
