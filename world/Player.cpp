#include "world/Player.h"

#include <box2d/b2_body.h>
#include <box2d/b2_circle_shape.h>
#include <box2d/b2_fixture.h>

#include "os/EventHandler.h"
#include "physics/particles/PhysicsWorld.h"

namespace Player {

Player::Player(PhysicsWorld& physics, CheckPoint* checkPoint, EventHandler* events,
               std::vector<PristineLevel::PathNode>&& laps)
    : physics_(&physics), events_(events), checkPoint_(checkPoint), laps_(std::move(laps)) {
    b2BodyDef def;
    def.type = b2_dynamicBody;
    def.position.Set(checkPoint->respawnPosition.x, checkPoint->respawnPosition.y);
    def.fixedRotation = true;
    def.allowSleep = false;
    body_ = physics.CreateBody(def);

    b2CircleShape inner;
    inner.m_radius = innerRadius;
    b2FixtureDef innerDef;
    innerDef.shape = &inner;
    innerDef.density = 1.44f;
    innerDef.friction = 1.0f;
    innerDef.filter.categoryBits = category;
    innerDef.filter.maskBits = innerMask;
    inner_ = body_->CreateFixture(&innerDef);

    b2CircleShape outer;
    outer.m_radius = outerRadius;
    b2FixtureDef outerDef;
    outerDef.shape = &outer;
    outerDef.density = 0.0f;
    outerDef.filter.categoryBits = category;
    outerDef.filter.maskBits = outerMask;
    outerDef.userData.pointer = outerCircleTag;
    outer_ = body_->CreateFixture(&outerDef);
}

void Player::update(ControlSchemeInputState input, PhysicsWorld&, Camera&, float) { input_ = input; }

void Player::updateRespawn(Camera&) {}

glm::vec2 Player::getPosition() const {
    b2Vec2 const p = body_->GetPosition();
    return glm::vec2(p.x, p.y);
}

void Player::respawn() {
    glm::vec2 const at = checkPoint_->respawnPosition;
    physics_->SetTransform(body_, b2Vec2(at.x, at.y), 0.0f);
    body_->SetLinearVelocity(b2Vec2(0.0f, 0.0f));
    for (uint32_t signal : checkPoint_->respawnSignals) {
        events_->trigger(signal);
    }
    alive_ = true;
}

}  // namespace Player
