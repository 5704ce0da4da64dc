#pragma once
// Level objects never call each other: each record names the signal ids its object reacts to,
// and this turns them into subscriptions, once, at the end of the world's construction. The
// returned handles live as long as the world; callbacks capture plain pointers into it.
#include <box2d/b2_joint.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "level/PristineLevel.h"
#include "os/EventHandler.h"
#include "os/Task.h"
#include "world/AnimatedMesh.h"
#include "world/AnimatedTexture.h"
#include "world/BodyObserver.h"
#include "world/CameraShaker.h"
#include "world/Coin.h"
#include "world/CulledVector.h"
#include "world/DynamicBody.h"
#include "world/Fluids.h"
#include "world/JumpPad.h"
#include "world/ParticleLiquid.h"
#include "world/SignalFilter.h"
#include "world/TriggerableSound.h"

class Camera;
class PhysicsWorld;
namespace Player {
class Player;
}

// The ids with a fixed meaning that the wiring subscribes.
inline constexpr uint32_t levelBuiltSignal = 1;
inline constexpr uint32_t levelInstalledSignal = 20000001;
inline constexpr uint32_t clearReversedControlsSignal = 20000004;
inline constexpr uint32_t verticalJumpOnSignal = 20000006;
inline constexpr uint32_t verticalJumpOffSignal = 20000007;

std::vector<SlotCallbackRef> wireLevelSignals(
    EventHandler* events, PristineLevel::Data const& level, std::vector<CheckPoint> const& checkPoints,
    std::vector<b2Joint*> const& joints, PhysicsWorld& physics, CulledVector<DynamicBody, DynamicBody*>& dynamicBodies,
    std::vector<ParticleLiquid>& particleLiquids, CulledVector<Coin, Coin*>& coins, std::vector<JumpPad>& jumpPads,
    Player::Player& player, std::vector<Task>* tasks, float* clock, std::vector<AnimatedTexture>& animatedTextures,
    CulledVector<BodyObserver, BodyObserver*>& bodyObservers,
    CulledVector<TriggerableSound, TriggerableSound*>& sounds, std::vector<CameraShaker>& cameraShakers,
    Camera* camera, std::vector<AnimatedMesh>& animatedMeshes, Fluids& fluids,
    std::vector<SignalFilter>& signalFilters);

// Puts a joint back as it was when `save` ran: every parameter and the solver's state, while its
// links into the world's lists stay as they are now. No setter runs and no body wakes.
class JointSnapshot {
public:
    JointSnapshot() = default;
    // The joint's concrete class follows the record's kind, not the joint's type (a rope is a
    // distance joint here).
    static JointSnapshot save(PristineLevel::JointVariant const& kind, b2Joint* joint);
    void restore(b2Joint* joint) const;

private:
    std::shared_ptr<void const> copy_;
    void (*restore_)(void const* copy, b2Joint* joint) = nullptr;
};
