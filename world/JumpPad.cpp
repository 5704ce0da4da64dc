#include "world/JumpPad.h"

#include <box2d/b2_body.h>

#include <algorithm>
#include <cstdio>

#include "level/Fixtures.h"
#include "world/DynamicBody.h"
#include "world/Player.h"

JumpPad::JumpPad(PristineLevel::JumpPad const& record, CulledVector<DynamicBody, DynamicBody*>& bodies,
                 std::vector<FixtureSignal>* fixtureSignals, b2Body* ground, Player::Player* player)
    : player_(player),
      force_(record.force),
      forceDuration_(record.forceDuration),
      blockDuration_(record.blockDuration),
      frictionOffDuration_(float(record.frictionOffDuration)),
      launchImpulse_(record.launchImpulse),
      blockJump_(record.blockJump),
      blockDive_(record.blockDive) {
    if (record.body == PristineLevel::staticBodyIndexU) {
        body_ = ground;
    } else if (record.body < bodies.size()) {
        body_ = bodies[record.body].getBody();
    } else {
        std::fprintf(stderr, "JumpPad: body %u of %zu; the pad is dropped\n", record.body, bodies.size());
        return;
    }
    createFixtures(record.shapes, body_, fixtureSignals);
}

void JumpPad::trigger() {
    if (triggered_ || body_ == nullptr || player_ == nullptr) {
        return;
    }
    if (blockDuration_ != 0.0f) {
        player_->blockMove(blockDuration_);
        if (blockJump_) {
            player_->blockJump(blockDuration_);
        }
        if (blockDive_) {
            player_->blockDive(blockDuration_);
        }
    }
    b2Rot const& q = body_->GetTransform().q;
    auto const turn = [&q](glm::vec2 v) { return glm::vec2(q.c * v.x - q.s * v.y, q.s * v.x + q.c * v.y); };
    if (forceDuration_ != 0.0f) {
        player_->applyTimedForce(turn(force_), forceDuration_);
    }
    if (frictionOffDuration_ != 0.0f) {
        player_->setFrictionOverride(0.0f, frictionOffDuration_);
    }
    player_->launch(turn(launchImpulse_));
    triggered_ = true;
}

void JumpPad::update(float dt) {
    if (!triggered_) {
        return;
    }
    elapsed_ = std::clamp(elapsed_ + dt, 0.0f, rearmMs);
    if (elapsed_ >= rearmMs) {
        elapsed_ = 0.0f;
        triggered_ = false;
    }
}
