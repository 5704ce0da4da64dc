#include "world/ParticleLiquid.h"

#include <cmath>
#include <cstdio>

#include "level/Fixtures.h"

ParticleLiquid::ParticleLiquid(PhysicsWorld& physics, PristineLevel::ParticleLiquid const& record)
    : physics_(&physics), shape_(createPolygonShape(record.shapes, 0)) {
    def_.flags = record.flags;
    def_.groupFlags = record.groupFlags;
    def_.position.Set(record.position.x, record.position.y);
    def_.angle = record.angle;
    def_.linearVelocity.Set(record.linearVelocity.x, record.linearVelocity.y);
    def_.angularVelocity = record.angularVelocity;
    def_.color = ParticleColor{record.color.r, record.color.g, record.color.b, record.color.a};
    def_.strength = record.strength;
    bool const finite = std::isfinite(def_.position.x) && std::isfinite(def_.position.y) && std::isfinite(def_.angle) &&
                        std::isfinite(def_.linearVelocity.x) && std::isfinite(def_.linearVelocity.y) &&
                        std::isfinite(def_.angularVelocity);
    if (!finite) {
        std::fprintf(stderr, "World: particle liquid with a placement that is not a number fills nothing\n");
    }
    if (shape_.m_count < 3) {
        std::fprintf(stderr, "World: particle liquid without a polygon never pours\n");
    }
    def_.shape = shape_.m_count >= 3 && finite ? &shape_ : nullptr;
}

// The definition points at the shape of its own object.
ParticleLiquid::ParticleLiquid(ParticleLiquid const& other)
    : physics_(other.physics_), shape_(other.shape_), def_(other.def_), group_(other.group_) {
    def_.shape = other.def_.shape != nullptr ? &shape_ : nullptr;
}

void ParticleLiquid::create() {
    if (group_ == nullptr && def_.shape != nullptr) {
        group_ = physics_->CreateParticleGroup(def_);
    }
}

void ParticleLiquid::refill() {
    if (group_ != nullptr && !physics_->IsLocked()) {
        drain();
        create();
    }
}

void ParticleLiquid::drain() {
    if (group_ != nullptr && !physics_->IsLocked()) {
        physics_->DestroyParticlesInGroup(group_, false);
        group_ = nullptr;
    }
}

ParticleLiquidGroups::ParticleLiquidGroups(PhysicsWorld& physics, std::vector<ParticleLiquid>& liquids)
    : physics_(&physics), liquids_(&liquids) {
    physics_->SetParticleDestructionListener(this);
}

ParticleLiquidGroups::~ParticleLiquidGroups() { physics_->SetParticleDestructionListener(nullptr); }

void ParticleLiquidGroups::SayGoodbye(ParticleGroup* group) {
    for (ParticleLiquid& liquid : *liquids_) {
        liquid.forgetGroup(group);
    }
}
