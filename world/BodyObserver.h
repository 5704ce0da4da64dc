#pragma once
// Watches one level body and raises signals when it is hit, moves, spins or slides.
#include "level/PristineLevel.h"
#include "world/CulledVector.h"

class b2Contact;
struct b2ContactImpulse;
class DynamicBody;
class EventHandler;

class BodyObserver {
public:
    BodyObserver(CulledVector<DynamicBody, DynamicBody*>&, PristineLevel::BodyObserver const&, EventHandler*) {}

    void postSolve(b2Contact*, b2ContactImpulse const*) { ++solves_; }
    void update() {}
    int solves() const { return solves_; }

private:
    int solves_ = 0;
};
