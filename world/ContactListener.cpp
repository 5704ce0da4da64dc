#include "world/ContactListener.h"

#include <box2d/b2_body.h>
#include <box2d/b2_contact.h>
#include <box2d/b2_fixture.h>
#include <box2d/b2_shape.h>

#include <cstdint>

#include "os/EventHandler.h"
#include "physics/particles/Box2DAdapter.h"
#include "world/Fluids.h"
#include "world/Player.h"

namespace {

constexpr uint16_t goalCategory = 0x0080;
constexpr uint16_t cameraZoneCategory = 0x0200;

bool isOuterCircle(b2Fixture const* f) { return Box2DAdapter::userDataValue(*f) == Player::outerCircleTag; }

uint16_t categoryOf(b2Fixture const* f) { return f->GetFilterData().categoryBits; }

// The player's fixtures come first.
struct Pair {
    b2Fixture* p;
    b2Fixture* o;
};

Pair order(b2Contact* contact) {
    b2Fixture* a = contact->GetFixtureA();
    b2Fixture* b = contact->GetFixtureB();
    return categoryOf(a) == Player::category ? Pair{a, b} : Pair{b, a};
}

}  // namespace

ContactListener::ContactListener(Player::Player*, Fluids& fluids, EventHandler* events,
                                 std::vector<FixtureSignal> const& signals,
                                 CulledVector<BodyObserver, BodyObserver*>& observers)
    : events_(events),
      goalCallback_([events](bool begin) {
          if (begin) {
              events->trigger(endOfLevelSignal);
          }
      }),
      signals_(&signals),
      fluids_(&fluids),
      observers_(&observers) {
    beginQueue_.reserve(16);
    endQueue_.reserve(16);
}

FixtureSignal const* ContactListener::firstMatch(b2Fixture const* fixture, b2Fixture const* other) const {
    std::vector<FixtureSignal> const& table = *signals_;
    if (table.empty()) {
        return nullptr;
    }
    auto const p = Box2DAdapter::userDataValue(*fixture);
    auto const first = reinterpret_cast<std::uintptr_t>(table.data());
    if (p < first || p - first >= table.size() * sizeof(FixtureSignal) || (p - first) % sizeof(FixtureSignal) != 0) {
        return nullptr;
    }
    std::size_t index = (p - first) / sizeof(FixtureSignal);
    b2Filter const& filter = other->GetFilterData();
    for (std::size_t steps = 0; steps < table.size(); ++steps) {
        FixtureSignal const& record = table[index];
        if ((record.group >= 1 && record.group == filter.groupIndex) || (record.categoryMask & filter.categoryBits) != 0) {
            return &record;
        }
        if (record.next < 0 || std::size_t(record.next) >= table.size()) {
            return nullptr;
        }
        index = std::size_t(record.next);
    }
    return nullptr;
}

void ContactListener::BeginContact(b2Contact* contact) {
    if (!contact->IsTouching()) {
        return;
    }
    auto const [p, o] = order(contact);
    bool const oFluid = fluids_->isFluid(o);
    if (oFluid || fluids_->isFluid(p)) {
        if (isOuterCircle(p)) {
            return;
        }
        b2Fixture* fluid = oFluid ? o : p;
        fluids_->volumeOf(fluid).beginContact(fluid, oFluid ? p : o);
        return;
    }
    if (isOuterCircle(p)) {
        uint16_t const category = categoryOf(o);
        if (category == cameraZoneCategory) {
            return;
        }
        if (category == goalCategory) {
            beginQueue_.push_back(&goalCallback_);
            return;
        }
        if (FixtureSignal const* match = firstMatch(o, p)) {
            events_->trigger(match->beginSignal);
        }
        return;
    }
    if ((categoryOf(o) & Player::category) != 0 || (categoryOf(p) & Player::category) != 0) {
        return;
    }
    if (FixtureSignal const* match = firstMatch(o, p)) {
        events_->trigger(match->beginSignal);
    }
    if (FixtureSignal const* match = firstMatch(p, o)) {
        events_->trigger(match->beginSignal);
    }
}

void ContactListener::EndContact(b2Contact* contact) {
    auto const [p, o] = order(contact);
    bool const oFluid = fluids_->isFluid(o);
    if (oFluid || fluids_->isFluid(p)) {
        if (isOuterCircle(p)) {
            return;
        }
        b2Fixture* fluid = oFluid ? o : p;
        b2Fixture* other = oFluid ? p : o;
        FluidVolume& volume = fluids_->volumeOf(fluid);
        if (categoryOf(p) == Player::category) {
            b2Body* body = p->GetBody();
            b2Vec2 const at = body->GetPosition();
            b2Vec2 const v = body->GetLinearVelocity();
            volume.splash(glm::vec2(at.x, at.y - p->GetShape()->m_radius), glm::vec2(-v.x, -v.y));
        }
        volume.endContact(fluid, other);
        return;
    }
    if (isOuterCircle(p)) {
        uint16_t const category = categoryOf(o);
        if (category == goalCategory || category == cameraZoneCategory) {
            return;
        }
        if (FixtureSignal const* match = firstMatch(o, p)) {
            events_->trigger(match->endSignal);
        }
        return;
    }
    if ((categoryOf(o) & Player::category) != 0 || (categoryOf(p) & Player::category) != 0) {
        return;
    }
    FixtureSignal const* mO = firstMatch(o, p);
    FixtureSignal const* mP = firstMatch(p, o);
    bool stillTouching = false;
    if ((mO != nullptr && mO->perBody != 0) || (mP != nullptr && mP->perBody != 0)) {
        b2Body const* pBody = p->GetBody();
        for (b2ContactEdge* edge = o->GetBody()->GetContactList(); edge != nullptr; edge = edge->next) {
            b2Contact* c = edge->contact;
            if (c != contact && c->IsTouching() &&
                (c->GetFixtureA()->GetBody() == pBody || c->GetFixtureB()->GetBody() == pBody)) {
                stillTouching = true;
                break;
            }
        }
    }
    if (mO != nullptr && (mO->perBody == 0 || !stillTouching)) {
        events_->trigger(mO->endSignal);
    }
    if (mP != nullptr && (mP->perBody == 0 || !stillTouching)) {
        events_->trigger(mP->endSignal);
    }
}

void ContactListener::PreSolve(b2Contact* contact, b2Manifold const*) {
    b2Fixture* a = contact->GetFixtureA();
    b2Fixture* b = contact->GetFixtureB();
    if (Box2DAdapter::userDataValue(*a->GetBody()) != 2 && Box2DAdapter::userDataValue(*b->GetBody()) != 2 &&
        (isOuterCircle(a) || isOuterCircle(b))) {
        contact->SetEnabled(false);
    }
}

void ContactListener::PostSolve(b2Contact* contact, b2ContactImpulse const* impulse) {
    for (BodyObserver& observer : observers_->items()) {
        observer.postSolve(contact, impulse);
    }
}

void ContactListener::replayQueued() {
    for (auto* callback : beginQueue_) {
        (*callback)(true);
    }
    beginQueue_.clear();
    for (auto* callback : endQueue_) {
        (*callback)(false);
    }
    endQueue_.clear();
}
