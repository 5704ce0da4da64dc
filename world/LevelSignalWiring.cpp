#include "world/LevelSignalWiring.h"

#include <box2d/b2_body.h>
#include <box2d/b2_distance_joint.h>
#include <box2d/b2_friction_joint.h>
#include <box2d/b2_gear_joint.h>
#include <box2d/b2_motor_joint.h>
#include <box2d/b2_prismatic_joint.h>
#include <box2d/b2_pulley_joint.h>
#include <box2d/b2_revolute_joint.h>
#include <box2d/b2_weld_joint.h>
#include <box2d/b2_wheel_joint.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <type_traits>

#include "physics/particles/PhysicsWorld.h"
#include "world/Player.h"


namespace {

// The installed Box2D class each joint kind is made as.
template <class Def>
struct Box2DJoint;
template <>
struct Box2DJoint<PristineLevel::DistanceJointDef> {
    using type = b2DistanceJoint;
};
template <>
struct Box2DJoint<PristineLevel::FrictionJointDef> {
    using type = b2FrictionJoint;
};
template <>
struct Box2DJoint<PristineLevel::GearJointDef> {
    using type = b2GearJoint;
};
template <>
struct Box2DJoint<PristineLevel::MotorJointDef> {
    using type = b2MotorJoint;
};
template <>
struct Box2DJoint<PristineLevel::PrismaticJointDef> {
    using type = b2PrismaticJoint;
};
template <>
struct Box2DJoint<PristineLevel::PulleyJointDef> {
    using type = b2PulleyJoint;
};
template <>
struct Box2DJoint<PristineLevel::RevoluteJointDef> {
    using type = b2RevoluteJoint;
};
template <>
struct Box2DJoint<PristineLevel::RopeJointDef> {
    using type = b2DistanceJoint;
};
template <>
struct Box2DJoint<PristineLevel::WeldJointDef> {
    using type = b2WeldJoint;
};
template <>
struct Box2DJoint<PristineLevel::WheelJointDef> {
    using type = b2WheelJoint;
};

template <class Alternative>
using Box2DJointOf = typename Box2DJoint<typename std::decay_t<Alternative>::Definition>::type;

// A joint's links into the world's joint list and its bodies' joint lists.
class JointLinks : public b2Joint {
public:
    struct Saved {
        b2Joint* prev;
        b2Joint* next;
        b2JointEdge edgeA;
        b2JointEdge edgeB;
        int32 index;
        bool islandFlag;
    };
    static Saved save(b2Joint* j) {
        return Saved{j->*(&JointLinks::m_prev),  j->*(&JointLinks::m_next),  j->*(&JointLinks::m_edgeA),
                     j->*(&JointLinks::m_edgeB), j->*(&JointLinks::m_index), j->*(&JointLinks::m_islandFlag)};
    }
    static void restore(b2Joint* j, Saved const& s) {
        j->*(&JointLinks::m_prev) = s.prev;
        j->*(&JointLinks::m_next) = s.next;
        j->*(&JointLinks::m_edgeA) = s.edgeA;
        j->*(&JointLinks::m_edgeB) = s.edgeB;
        j->*(&JointLinks::m_index) = s.index;
        j->*(&JointLinks::m_islandFlag) = s.islandFlag;
    }
};

template <class T>
void restoreAs(void const* copy, b2Joint* joint) {
    JointLinks::Saved const links = JointLinks::save(joint);
    *static_cast<T*>(joint) = *static_cast<T const*>(copy);
    JointLinks::restore(joint, links);
}

std::uintptr_t ownerOf(void const* object) { return reinterpret_cast<std::uintptr_t>(object); }

bool hasTaskOf(std::vector<Task> const& tasks, std::uintptr_t owner) {
    return std::any_of(tasks.begin(), tasks.end(), [owner](Task const& t) { return t.owner() == owner; });
}

void removeTasksOf(std::vector<Task>& tasks, std::uintptr_t owner) {
    tasks.erase(std::remove_if(tasks.begin(), tasks.end(), [owner](Task const& t) { return t.owner() == owner; }),
                tasks.end());
}

using Slots = std::vector<SlotCallbackRef>;

// No subscription for id 0.
void subscribe(Slots& slots, EventHandler* events, uint32_t id, std::function<void()>&& callback) {
    if (id != 0) {
        slots.emplace_back(events, id, std::move(callback));
    }
}

void appendDynamicBodiesResetCallbacks(Slots& slots, EventHandler* events, PhysicsWorld& physics,
                                       std::vector<PristineLevel::DynamicBody> const& records,
                                       CulledVector<DynamicBody, DynamicBody*>& bodies) {
    for (std::size_t i = 0; i < records.size() && i < bodies.size(); ++i) {
        b2Body* body = bodies[i].getBody();
        if (records[i].resetSignal == 0 || body == nullptr) {
            continue;
        }
        // The body as built: the record's values, or the defaults that replaced unusable ones.
        b2Vec2 const position = body->GetPosition();
        float const angle = body->GetAngle();
        bool const awake = records[i].bodyDef.awake;
        PhysicsWorld* world = &physics;
        subscribe(slots, events, records[i].resetSignal, [world, body, position, angle, awake] {
            world->SetTransform(body, position, angle);
            body->SetLinearVelocity(b2Vec2(0.0f, 0.0f));
            body->SetAngularVelocity(0.0f);
            if (awake) {
                body->SetAwake(true);
            }
        });
    }
}

void appendStateCallbacks(Slots& slots, EventHandler* events, PristineLevel::JointVariant const& kind, b2Joint* joint,
                          std::vector<Task>* tasks) {
    boost::apply_visitor(
        [&](auto const& def) {
            using Joint = Box2DJointOf<decltype(def)>;
            using State = typename std::decay_t<decltype(def)>::StateType;
            auto* typed = static_cast<Joint*>(joint);
            for (State const& element : def.states) {
                if (element.signal == 0) {
                    continue;
                }
                auto const state = std::make_shared<State const>(element);
                subscribe(slots, events, element.signal, [state, typed, tasks] {
                    std::uintptr_t const owner = ownerOf(typed);
                    if (state->interrupt == 0 && hasTaskOf(*tasks, owner)) {
                        return;  // the running transition goes on
                    }
                    removeTasksOf(*tasks, owner);
                    if (state->apply(*typed)) {
                        tasks->emplace_back([state, typed](float dt, float) { return state->step(*typed, dt); }, owner);
                    }
                });
            }
        },
        kind);
}

template <class Record, class T>
void appendTriggerCallbacks(Slots& slots, EventHandler* events, std::vector<Record> const& records,
                            std::vector<T>& objects) {
    for (std::size_t i = 0; i < records.size() && i < objects.size(); ++i) {
        T* object = &objects[i];
        subscribe(slots, events, records[i].triggerSignal, [object] { object->trigger(); });
    }
}

void enableHook(Coin&) {}
void disableHook(Coin&) {}
void enableHook(DynamicBody& body) { body.show(); }
void disableHook(DynamicBody& body) { body.hide(); }
void enableHook(BodyObserver&) {}
void disableHook(BodyObserver&) {}
void enableHook(TriggerableSound& sound) { sound.resume(); }
void disableHook(TriggerableSound& sound) { sound.silence(); }

template <class Record, class T>
void appendUpdateCulledCallbacks(Slots& slots, EventHandler* events, std::vector<Record> const& records,
                                 CulledVector<T, T*>& culled) {
    for (std::size_t i = 0; i < records.size() && i < culled.size(); ++i) {
        T* item = &culled[i];
        CulledVector<T, T*>* list = &culled;
        if (records[i].enableSignal != 0) {
            subscribe(slots, events, records[i].enableSignal, [item, list] {
                if (!list->isActive(item)) {
                    enableHook(*item);
                    list->activate(item);
                }
            });
            disableHook(*item);
        } else {
            list->activate(item);
        }
        subscribe(slots, events, records[i].disableSignal, [item, list] {
            if (list->isActive(item)) {
                disableHook(*item);
                list->deactivate(item);
            }
        });
    }
}

void appendCheckPointCallbacks(Slots& slots, std::vector<CheckPoint> const& checkPoints, EventHandler* events,
                               Player::Player& player) {
    for (CheckPoint const& point : checkPoints) {
        CheckPoint* taken = const_cast<CheckPoint*>(&point);
        Player::Player* p = &player;
        subscribe(slots, events, point.reachSignal, [taken, p] {
            CheckPoint*& current = p->getCheckPoint();
            if (uint64_t(taken->index) == uint64_t(current->index) + 1) {
                current = taken;
            }
        });
    }
}

void appendDelayedSignals(Slots& slots, EventHandler* events, std::vector<PristineLevel::DelayedSignal> const& records,
                          std::vector<Task>* tasks, Player::Player* player, float* clock) {
    for (PristineLevel::DelayedSignal const& record : records) {
        if (record.signal == 0 || record.target == 0) {
            continue;
        }
        if (!std::isfinite(record.delay)) {
            std::fprintf(stderr, "World: delayed signal %u -> %u with a delay of %g dropped\n", record.signal,
                         record.target, double(record.delay));
            continue;
        }
        uint32_t const output = record.target;
        float const delay = record.delay;
        subscribe(slots, events, record.signal, [events, tasks, player, clock, output, delay] {
            float const fireTime = *clock + delay;
            tasks->emplace_back(
                [events, player, output, fireTime](float, float time) {
                    if (!player->isAlive()) {
                        return true;
                    }
                    if (!(fireTime < time)) {
                        return false;
                    }
                    events->trigger(output);
                    return true;
                },
                0);
        });
    }
}

void appendAnimatedTextureCallbacks(Slots& slots, EventHandler* events, PristineLevel::Data const& level,
                                    std::vector<AnimatedTexture>& textures) {
    std::vector<AnimatedTexture>* list = &textures;
    for (std::size_t i = 0; i < level.animatedTextures.size() && i < textures.size(); ++i) {
        PristineLevel::AnimatedTexture const& r = level.animatedTextures[i];
        subscribe(slots, events, r.playSignal, [list, i] { (*list)[i].restart(); });
        subscribe(slots, events, r.showSignal, [list, i] { (*list)[i].show(); });
        subscribe(slots, events, r.showSignal2 != 0 ? r.showSignal2 : r.showSignal, [list, i] { (*list)[i].activate(); });
        subscribe(slots, events, r.hideSignal, [list, i] { (*list)[i].hide(); });
        subscribe(slots, events, r.hideSignal2 != 0 ? r.hideSignal2 : r.hideSignal, [list, i] { (*list)[i].deactivate(); });
    }
}

void appendTriggerableSoundCallbacks(Slots& slots, EventHandler* events,
                                     std::vector<PristineLevel::TriggerableSound> const& records,
                                     CulledVector<TriggerableSound, TriggerableSound*>& sounds) {
    for (std::size_t i = 0; i < records.size() && i < sounds.size(); ++i) {
        TriggerableSound* sound = &sounds[i];
        subscribe(slots, events, records[i].playSignal, [sound] { sound->play(); });
        subscribe(slots, events, records[i].stopSignal, [sound] { sound->stop(); });
    }
}

void appendEventCallbacks(Slots& slots, EventHandler* events, Player::Player* player, float* clock) {
    subscribe(slots, events, levelInstalledSignal, [clock] { *clock = 0.0f; });
    subscribe(slots, events, clearReversedControlsSignal, [player] { player->setControlsReversed(false); });
    subscribe(slots, events, verticalJumpOnSignal, [player] { player->enableVerticalJump(); });
    subscribe(slots, events, verticalJumpOffSignal, [player] { player->disableVerticalJump(); });
}

void appendCameraShakerCallbacks(Slots& slots, EventHandler* events, std::vector<Task>* tasks, Camera* camera,
                                 std::vector<PristineLevel::CameraShaker> const& records,
                                 std::vector<CameraShaker>& shakers) {
    for (std::size_t i = 0; i < records.size() && i < shakers.size(); ++i) {
        CameraShaker* shaker = &shakers[i];
        // Both are made whatever the ids: id 0 never fires.
        slots.emplace_back(events, records[i].startSignal, [shaker, tasks, camera] {
            std::uintptr_t const owner = ownerOf(shaker);
            bool const running = hasTaskOf(*tasks, owner);
            shaker->start();
            if (!running) {
                tasks->emplace_back([shaker, camera](float dt, float time) { return shaker->update(*camera, time, dt); },
                                    owner);
            }
        });
        slots.emplace_back(events, records[i].stopSignal, [shaker] { shaker->stop(); });
    }
}

void appendAnimMeshesCallbacks(Slots& slots, EventHandler* events,
                               std::vector<PristineLevel::AnimatedMesh> const& records,
                               std::vector<AnimatedMesh>& meshes) {
    for (std::size_t i = 0; i < records.size() && i < meshes.size(); ++i) {
        AnimatedValue* a = &meshes[i].animation();
        subscribe(slots, events, records[i].playSignal, [a] { a->playForward(); });
        subscribe(slots, events, records[i].reverseSignal, [a] { a->playBackward(); });
        subscribe(slots, events, records[i].pauseSignal, [a] { a->pause(); });
        subscribe(slots, events, records[i].finishSignal, [a] { a->finish(); });
        subscribe(slots, events, records[i].rewindSignal, [a] { a->reset(); });
    }
}

void appendFluidsCallbacks(Slots& slots, EventHandler* events, std::vector<PristineLevel::Fluid> const& records, Fluids& fluids) {
    for (std::size_t i = 0; i < fluids.count() && i < records.size(); ++i) {
        FluidVolume* volume = &fluids.getVolume(i);
        subscribe(slots, events, records[i].enableSignal, [volume] { volume->enable(); });
        subscribe(slots, events, records[i].disableSignal, [volume] { volume->disable(); });
    }
}

void appendSignalFilterCallbacks(Slots& slots, EventHandler* events,
                                 std::vector<PristineLevel::SignalFilter> const& records,
                                 std::vector<SignalFilter>& filters) {
    for (std::size_t i = 0; i < records.size() && i < filters.size(); ++i) {
        SignalFilter* filter = &filters[i];
        subscribe(slots, events, records[i].input, [filter] { filter->trigger(); });
        subscribe(slots, events, records[i].reset, [filter] { filter->reset(); });
    }
}

void appendParticleLiquidCallbacks(Slots& slots, EventHandler* events,
                                   std::vector<PristineLevel::ParticleLiquid> const& records,
                                   std::vector<ParticleLiquid>& liquids) {
    for (std::size_t i = 0; i < records.size() && i < liquids.size(); ++i) {
        ParticleLiquid* liquid = &liquids[i];
        subscribe(slots, events, records[i].spawnSignal, [liquid] { liquid->create(); });
        subscribe(slots, events, records[i].respawnSignal, [liquid] { liquid->refill(); });
        subscribe(slots, events, records[i].removeSignal, [liquid] { liquid->drain(); });
    }
}

}  // namespace

JointSnapshot JointSnapshot::save(PristineLevel::JointVariant const& kind, b2Joint* joint) {
    JointSnapshot snapshot;
    boost::apply_visitor(
        [&](auto const& def) {
            using Joint = Box2DJointOf<decltype(def)>;
            snapshot.copy_ = std::make_shared<Joint const>(*static_cast<Joint const*>(joint));
            snapshot.restore_ = &restoreAs<Joint>;
        },
        kind);
    return snapshot;
}

void JointSnapshot::restore(b2Joint* joint) const {
    if (restore_ != nullptr && joint != nullptr) {
        restore_(copy_.get(), joint);
    }
}

std::vector<SlotCallbackRef> wireLevelSignals(
    EventHandler* events, PristineLevel::Data const& level, std::vector<CheckPoint> const& checkPoints,
    std::vector<b2Joint*> const& joints, PhysicsWorld& physics, CulledVector<DynamicBody, DynamicBody*>& dynamicBodies,
    std::vector<ParticleLiquid>& particleLiquids, CulledVector<Coin, Coin*>& coins, std::vector<JumpPad>& jumpPads,
    Player::Player& player, std::vector<Task>* tasks, float* clock, std::vector<AnimatedTexture>& animatedTextures,
    CulledVector<BodyObserver, BodyObserver*>& bodyObservers,
    CulledVector<TriggerableSound, TriggerableSound*>& sounds, std::vector<CameraShaker>& cameraShakers,
    Camera* camera, std::vector<AnimatedMesh>& animatedMeshes, Fluids& fluids,
    std::vector<SignalFilter>& signalFilters) {
    Slots slots;
    appendDynamicBodiesResetCallbacks(slots, events, physics, level.dynamicBodies, dynamicBodies);
    // A refused joint stays null in its slot and gets no callbacks.
    for (std::size_t i = 0; i < level.joints.size() && i < joints.size(); ++i) {
        if (joints[i] != nullptr) {
            appendStateCallbacks(slots, events, level.joints[i].def, joints[i], tasks);
        }
    }
    for (std::size_t i = 0; i < level.joints.size() && i < joints.size(); ++i) {
        b2Joint* joint = joints[i];
        if (joint == nullptr || level.joints[i].resetSignal == 0) {
            continue;
        }
        auto const snapshot = std::make_shared<JointSnapshot const>(JointSnapshot::save(level.joints[i].def, joint));
        subscribe(slots, events, level.joints[i].resetSignal, [snapshot, joint, tasks] {
            snapshot->restore(joint);
            removeTasksOf(*tasks, ownerOf(joint));
        });
    }
    appendTriggerCallbacks(slots, events, level.coins, coins.items());
    appendTriggerCallbacks(slots, events, level.jumpPads, jumpPads);
    appendUpdateCulledCallbacks(slots, events, level.coins, coins);
    appendUpdateCulledCallbacks(slots, events, level.dynamicBodies, dynamicBodies);
    appendUpdateCulledCallbacks(slots, events, level.bodyObservers, bodyObservers);
    appendUpdateCulledCallbacks(slots, events, level.triggerableSounds, sounds);
    appendCheckPointCallbacks(slots, checkPoints, events, player);
    appendDelayedSignals(slots, events, level.delayedSignals, tasks, &player, clock);
    appendAnimatedTextureCallbacks(slots, events, level, animatedTextures);
    appendTriggerableSoundCallbacks(slots, events, level.triggerableSounds, sounds);
    appendEventCallbacks(slots, events, &player, clock);
    appendCameraShakerCallbacks(slots, events, tasks, camera, level.cameraShakers, cameraShakers);
    appendAnimMeshesCallbacks(slots, events, level.animatedMeshes, animatedMeshes);
    appendFluidsCallbacks(slots, events, level.fluids, fluids);
    appendSignalFilterCallbacks(slots, events, level.signalFilters, signalFilters);
    appendParticleLiquidCallbacks(slots, events, level.particleLiquids, particleLiquids);
    return slots;
}
