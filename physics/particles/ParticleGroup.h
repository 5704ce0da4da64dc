#pragma once
#include <box2d/b2_math.h>

#include <cstdint>

class ParticleSystem;

// A contiguous index range of particles made together; owned by its particle system.
class ParticleGroup {
public:
    ParticleSystem* GetParticleSystem() const { return system_; }
    std::int32_t GetBufferIndex() const { return firstIndex_; }
    std::int32_t GetParticleCount() const { return lastIndex_ - firstIndex_; }
    std::uint32_t GetGroupFlags() const { return groupFlags_; }
    float GetStrength() const { return strength_; }
    ParticleGroup* GetNext() const { return next_; }
    void* GetUserData() const { return userData_; }
    bool GetDestroyAutomatically() const { return destroyAutomatically_; }
    const b2Transform& GetTransform() const { return transform_; }

    // Mass, centre and motion of the group, computed at most once per solver step.
    void UpdateStatistics();
    float GetMass() const { return mass_; }
    float GetInertia() const { return inertia_; }
    b2Vec2 GetCenter() const { return center_; }
    b2Vec2 GetLinearVelocity() const { return linearVelocity_; }
    float GetAngularVelocity() const { return angularVelocity_; }

private:
    friend class ParticleSystem;
    ParticleGroup() { transform_.SetIdentity(); }

    ParticleSystem* system_ = nullptr;
    std::int32_t firstIndex_ = 0;
    std::int32_t lastIndex_ = 0;
    std::uint32_t groupFlags_ = 0;
    float strength_ = 1.0f;
    ParticleGroup* prev_ = nullptr;
    ParticleGroup* next_ = nullptr;
    std::int32_t timestamp_ = -1;
    float mass_ = 0.0f;
    float inertia_ = 0.0f;
    b2Vec2 center_{0.0f, 0.0f};
    b2Vec2 linearVelocity_{0.0f, 0.0f};
    float angularVelocity_ = 0.0f;
    b2Transform transform_;
    bool destroyAutomatically_ = true;
    bool toBeDestroyed_ = false;
    void* userData_ = nullptr;
};
