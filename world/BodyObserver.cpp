#include "world/BodyObserver.h"

#include <box2d/b2_body.h>
#include <box2d/b2_collision.h>
#include <box2d/b2_contact.h>
#include <box2d/b2_fixture.h>
#include <box2d/b2_world_callbacks.h>

#include <cmath>
#include <cstdio>

#include "os/EventHandler.h"
#include "world/DynamicBody.h"

namespace {

// Touching, and neither side a sensor.
bool qualifies(b2Contact const* contact) {
    return contact->IsTouching() && !contact->GetFixtureA()->IsSensor() && !contact->GetFixtureB()->IsSensor();
}

bool playerCategory(b2Fixture const* f) { return (f->GetFilterData().categoryBits & 0x0001) != 0; }

// The contact's world normal (from A to B) as b2WorldManifold gives it, without its points.
b2Vec2 worldNormal(b2Contact* contact) {
    b2Manifold const* m = contact->GetManifold();
    b2Transform const& xfA = contact->GetFixtureA()->GetBody()->GetTransform();
    b2Transform const& xfB = contact->GetFixtureB()->GetBody()->GetTransform();
    if (m->pointCount == 0) return b2Vec2(0.0f, 0.0f);
    switch (m->type) {
    case b2Manifold::e_circles: {
        b2Vec2 normal(1.0f, 0.0f);
        b2Vec2 const a = b2Mul(xfA, m->localPoint);
        b2Vec2 const b = b2Mul(xfB, m->points[0].localPoint);
        if (b2DistanceSquared(a, b) > b2_epsilon * b2_epsilon) {
            normal = b - a;
            normal.Normalize();
        }
        return normal;
    }
    case b2Manifold::e_faceA:
        return b2Mul(xfA.q, m->localNormal);
    case b2Manifold::e_faceB:
        return -b2Mul(xfB.q, m->localNormal);
    }
    return b2Vec2(0.0f, 0.0f);
}

}  // namespace

BodyObserver::BodyObserver(CulledVector<DynamicBody, DynamicBody*>& bodies, PristineLevel::BodyObserver const& record,
                           EventHandler* events)
    : events_(events),
      impactThreshold_(record.impulseThreshold),
      impactSignal_(record.impulseSignal),
      speedThreshold_(record.speedThreshold),
      startMoving_(record.speedUpSignal),
      stopMoving_(record.speedDownSignal),
      directional_(record.useDirection != 0),
      direction_(record.direction),
      spinThreshold_(record.spinThreshold),
      startSpinning_(record.spinSignal),
      stopSpinning_(record.spinStopSignal),
      spinNeedsContact_(record.spinNeedsContact != 0),
      slideThreshold_(record.slideThreshold),
      startSliding_(record.slideSignal),
      stopSliding_(record.slideStopSignal) {
    if (record.body < 0 || std::size_t(record.body) >= bodies.size()) {
        std::fprintf(stderr, "BodyObserver: body %d of %zu; it watches nothing\n", record.body, bodies.size());
    } else {
        body_ = bodies[std::size_t(record.body)].getBody();
    }
    float const length = std::sqrt(direction_.x * direction_.x + direction_.y * direction_.y);
    if (length >= 1.1920929e-7f) {
        direction_ /= length;
    }
}

void BodyObserver::raise(uint32_t id) {
    if (events_ != nullptr) {
        events_->trigger(id);
    }
}

void BodyObserver::update() {
    if (body_ == nullptr) {
        return;
    }
    checkSpin();
    checkSlide();
    checkSpeed();
}

void BodyObserver::checkSpin() {
    float const w = std::fabs(body_->GetAngularVelocity());
    if (!spinning_ && w > spinThreshold_) {
        bool touching = !spinNeedsContact_;
        for (b2ContactEdge* edge = body_->GetContactList(); edge != nullptr && !touching; edge = edge->next) {
            touching = qualifies(edge->contact);
        }
        if (touching) {
            spinning_ = true;
            raise(startSpinning_);
        }
    } else if (spinning_ && w < spinThreshold_) {
        spinning_ = false;
        raise(stopSpinning_);
    }
}

void BodyObserver::checkSlide() {
    bool any = false;
    b2Vec2 const v = body_->GetLinearVelocity();
    for (b2ContactEdge* edge = body_->GetContactList(); edge != nullptr; edge = edge->next) {
        b2Contact* contact = edge->contact;
        b2Fixture* a = contact->GetFixtureA();
        b2Fixture* b = contact->GetFixtureB();
        if (!qualifies(contact) || playerCategory(a) || playerCategory(b)) {
            continue;
        }
        any = true;
        b2Vec2 const n = worldNormal(contact);
        float const tangential = std::fabs(n.x * v.y - n.y * v.x);
        if (tangential > slideThreshold_) {
            if (!sliding_) {
                raise(startSliding_);
            }
            sliding_ = true;
        } else {
            if (sliding_) {
                raise(stopSliding_);
            }
            sliding_ = false;
        }
    }
    if (!any && sliding_) {
        raise(stopSliding_);
        sliding_ = false;
    }
}

void BodyObserver::checkSpeed() {
    b2Vec2 const v = body_->GetLinearVelocity();
    float const s = directional_ ? std::fabs(v.x * direction_.x + v.y * direction_.y) : v.Length();
    if (moving_ && s < speedThreshold_) {
        moving_ = false;
        raise(stopMoving_);
    } else if (!moving_ && s >= speedThreshold_) {
        moving_ = true;
        raise(startMoving_);
    }
}

void BodyObserver::postSolve(b2Contact* contact, b2ContactImpulse const* impulse) {
    if (body_ == nullptr || contact == nullptr || impulse == nullptr) {
        return;
    }
    b2Fixture* a = contact->GetFixtureA();
    b2Fixture* b = contact->GetFixtureB();
    if (a->GetBody() != body_ && b->GetBody() != body_) {
        return;
    }
    if (playerCategory(a) || playerCategory(b) || a->IsSensor() || b->IsSensor()) {
        return;
    }
    float sum = 0.0f;
    for (int32 i = 0; i < impulse->count && i < b2_maxManifoldPoints; ++i) {
        sum += impulse->normalImpulses[i];
    }
    if (sum > impactThreshold_) {
        raise(impactSignal_);
    }
}
