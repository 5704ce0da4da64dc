#pragma once
// Watches one level body and raises signals when it starts and stops moving (optionally along
// one direction), spinning and sliding, and every solved step it is hit hard.
#include <glm/vec2.hpp>

#include <cstdint>

#include "level/PristineLevel.h"
#include "world/CulledVector.h"

class b2Body;
class b2Contact;
struct b2ContactImpulse;
class DynamicBody;
class EventHandler;

class BodyObserver {
public:
    // A body index past the level's bodies builds an observer that watches nothing, logged.
    BodyObserver(CulledVector<DynamicBody, DynamicBody*>& bodies, PristineLevel::BodyObserver const& record,
                 EventHandler* events);

    void postSolve(b2Contact* contact, b2ContactImpulse const* impulse);
    void update();
    bool isMoving() const { return moving_; }
    bool isSpinning() const { return spinning_; }
    bool isSliding() const { return sliding_; }

private:
    void raise(uint32_t id);
    void checkSpin();
    void checkSlide();
    void checkSpeed();

    b2Body* body_ = nullptr;
    EventHandler* events_;
    float impactThreshold_;
    uint32_t impactSignal_;
    bool moving_ = false;
    float speedThreshold_;
    uint32_t startMoving_;
    uint32_t stopMoving_;
    bool directional_;
    glm::vec2 direction_;
    bool spinning_ = false;
    float spinThreshold_;
    uint32_t startSpinning_;
    uint32_t stopSpinning_;
    bool spinNeedsContact_;
    bool sliding_ = false;
    float slideThreshold_;
    uint32_t startSliding_;
    uint32_t stopSliding_;
};
