#include "world/RackAndPinion.h"

#include <box2d/b2_body.h>
#include <box2d/b2_gear_joint.h>
#include <box2d/b2_prismatic_joint.h>
#include <box2d/b2_revolute_joint.h>
#include <box2d/b2_world.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "physics/particles/PhysicsWorld.h"
#include "world/DynamicBody.h"

namespace {

// Box2D's gear joints turn the bodies they couple, which it requires to be dynamic.
b2Body* bodyAt(CulledVector<DynamicBody, DynamicBody*> const& bodies, uint32_t index) {
    b2Body* body = index < bodies.size() ? bodies[index].getBody() : nullptr;
    return body != nullptr && body->GetType() == b2_dynamicBody ? body : nullptr;
}

bool usableRatio(float ratio) { return std::isfinite(ratio) && ratio > 0.0f; }

b2Joint* couple(b2World& world, b2Body* a, b2Body* b, b2Joint* first, b2Joint* second, float ratio) {
    b2GearJointDef def;
    def.bodyA = a;
    def.bodyB = b;
    def.joint1 = first;
    def.joint2 = second;
    def.ratio = ratio;
    return world.CreateJoint(&def);
}

}  // namespace

RackAndPinion::RackAndPinion(Graphics::Context*, Audio::Context* audio,
                             CulledVector<DynamicBody, DynamicBody*> const& bodies, PhysicsWorld& physics,
                             EventHandler* events, PristineLevel::RackAndPinion const& record)
    : speed_(std::isfinite(record.speed) ? record.speed : 0.0f),
      events_(events),
      moveSound_(audio, record.moveSound),
      stopSound_(audio, record.stopSound) {
    b2World& world = physics.box2d();
    if (physics.IsLocked()) {
        std::fprintf(stderr, "RackAndPinion: not built while the world steps\n");
        return;
    }
    b2Body* frame = physics.CreateBody(b2BodyDef());
    if (frame == nullptr) {
        return;
    }
    // Gears that cannot be built (no body, radius <= 0, a body already in the mechanism) are
    // dropped; the next usable one couples to the last one built.
    struct Built {
        b2Body* body;
        b2RevoluteJoint* joint;
        float radius;
    };
    std::vector<Built> gears(record.gears.size(), Built{nullptr, nullptr, 0.0f});
    Built const* previous = nullptr;
    std::vector<b2Body*> used;
    for (std::size_t k = 0; k < record.gears.size(); ++k) {
        PristineLevel::Gear const& g = record.gears[k];
        b2Body* body = bodyAt(bodies, g.body);
        if (body == nullptr || !(g.radius > 0.0f) || !std::isfinite(g.radius) ||
            std::find(used.begin(), used.end(), body) != used.end()) {
            std::fprintf(stderr, "RackAndPinion: gear %zu (body %u, radius %g) dropped\n", k, g.body,
                         double(g.radius));
            continue;
        }
        b2RevoluteJointDef def;
        def.Initialize(frame, body, body->GetPosition());
        bool const first = drive_ == nullptr;
        if (first) {
            if (!std::isfinite(record.lowerAngle) || !std::isfinite(record.upperAngle)) {
                std::fprintf(stderr, "RackAndPinion: drive limits not finite; gear %zu dropped\n", k);
                continue;
            }
            def.enableLimit = true;
            def.lowerAngle = std::min(record.lowerAngle, record.upperAngle);
            def.upperAngle = std::max(record.lowerAngle, record.upperAngle);
            def.enableMotor = true;
            def.maxMotorTorque = 1000.0f;
            def.motorSpeed = -speed_;
        }
        auto* joint = static_cast<b2RevoluteJoint*>(world.CreateJoint(&def));
        used.push_back(body);
        gears[k] = Built{body, joint, g.radius};
        if (first) {
            drivenBody_ = body;
            drive_ = joint;
        } else if (usableRatio(g.radius / previous->radius)) {
            couple(world, previous->body, body, previous->joint, joint, g.radius / previous->radius);
        }
        previous = &gears[k];
    }
    for (std::size_t r = 0; r < record.racks.size(); ++r) {
        PristineLevel::Rack const& rack = record.racks[r];
        b2Body* body = bodyAt(bodies, rack.body);
        Built const* gear = rack.gear < gears.size() && gears[rack.gear].joint != nullptr ? &gears[rack.gear] : nullptr;
        b2Vec2 axis(rack.axis.x, rack.axis.y);
        if (body == nullptr || gear == nullptr || body == gear->body || !axis.IsValid() ||
            !(axis.Length() > b2_epsilon) || !usableRatio(1.0f / gear->radius)) {
            std::fprintf(stderr, "RackAndPinion: rack %zu (body %u, gear %u) gets no joints\n", r, rack.body,
                         rack.gear);
            continue;
        }
        axis.Normalize();
        b2PrismaticJointDef slide;
        slide.Initialize(frame, body, body->GetPosition(), axis);
        b2Joint* prismatic = world.CreateJoint(&slide);
        couple(world, gear->body, body, gear->joint, prismatic, 1.0f / gear->radius);
    }
    subscribe(events, record.startSignal, record.returnSignal, record.lockSignal);
}

RackAndPinion::RackAndPinion(RackAndPinion&& other) noexcept
    : drivenBody_(other.drivenBody_),
      drive_(other.drive_),
      speed_(other.speed_),
      events_(other.events_),
      locked_(other.locked_),
      moveSound_(std::move(other.moveSound_)),
      stopSound_(std::move(other.stopSound_)),
      wasAboveLower_(other.wasAboveLower_),
      moveSoundOn_(other.moveSoundOn_),
      stopSounds_(other.stopSounds_) {
    // The moved-from handlers end with it; new ones bind to this object under the same ids.
    std::vector<uint32_t> ids;
    for (SlotCallbackRef const& slot : other.slots_) {
        ids.push_back(slot.signal());
    }
    other.slots_.clear();
    if (ids.size() == 3) {
        subscribe(events_, ids[0], ids[1], ids[2]);
    }
}

void RackAndPinion::subscribe(EventHandler* events, uint32_t start, uint32_t back, uint32_t lock) {
    if (events == nullptr) {
        return;
    }
    slots_.reserve(3);
    slots_.emplace_back(events, start, [this] { this->start(); });
    slots_.emplace_back(events, back, [this] { goBack(); });
    slots_.emplace_back(events, lock, [this] { this->lock(); });
}

// The solver leaves a resting drive a few micro-radians either side of its stop: without some
// room, that noise would re-arm and replay the stop sound.
bool RackAndPinion::aboveLower() const { return drive_->GetJointAngle() > drive_->GetLowerLimit() + leaveStop; }

void RackAndPinion::start() {
    if (locked_ || drive_ == nullptr) {
        return;
    }
    if (aboveLower()) {
        moveSound_.play();
        moveSoundOn_ = true;
    }
    drive_->SetMotorSpeed(speed_);
}

void RackAndPinion::goBack() {
    if (locked_ || drive_ == nullptr) {
        return;
    }
    moveSound_.stop();
    moveSoundOn_ = false;
    drive_->SetMotorSpeed(-0.15f * speed_);
}

void RackAndPinion::lock() {
    if (locked_ || drive_ == nullptr) {
        return;
    }
    start();
    locked_ = true;
}

void RackAndPinion::update() {
    if (drive_ == nullptr) {
        return;
    }
    float const angle = drive_->GetJointAngle();
    float const lower = drive_->GetLowerLimit();
    if (angle < lower + reachStop && wasAboveLower_) {
        moveSound_.stop();
        moveSoundOn_ = false;
        stopSound_.play();
        ++stopSounds_;
        wasAboveLower_ = false;
    }
    if (aboveLower()) {
        wasAboveLower_ = true;
    }
}
