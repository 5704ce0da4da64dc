#pragma once
#include <box2d/b2_math.h>

#include <cstdint>

#include "physics/particles/ParticleColor.h"

// Particle flags.
inline constexpr std::uint32_t zombieParticle = 2;  // removed at the start of the next step
inline constexpr std::uint32_t wallParticle = 4;
inline constexpr std::uint32_t springParticle = 8;
inline constexpr std::uint32_t elasticParticle = 16;
inline constexpr std::uint32_t viscousParticle = 32;
inline constexpr std::uint32_t powderParticle = 64;
inline constexpr std::uint32_t tensileParticle = 128;
inline constexpr std::uint32_t colorMixingParticle = 256;
inline constexpr std::uint32_t destructionListenerParticle = 512;

// Group flags.
inline constexpr std::uint32_t solidParticleGroup = 1;
inline constexpr std::uint32_t rigidParticleGroup = 2;

struct ParticleDef {
    std::uint32_t flags = 0;
    b2Vec2 position{0.0f, 0.0f};
    b2Vec2 velocity{0.0f, 0.0f};
    ParticleColor color;
    void* userData = nullptr;
};
