#pragma once
// Moves one level body along a keyframed path: play, stop, play backward and rewind signals.
// The body is placed, not pushed.
#include <cstdint>
#include <vector>

#include "level/PristineLevel.h"
#include "os/EventHandler.h"
#include "world/CulledVector.h"

class b2Body;
class DynamicBody;
class PhysicsWorld;

class AnimatedBody {
public:
    enum State : uint32_t { Stopped = 0, Forward = 1, Backward = 2 };

    // A body index past the level's bodies or a path without keyframes builds one that does
    // nothing, logged.
    AnimatedBody(CulledVector<DynamicBody, DynamicBody*> const& bodies, PristineLevel::AnimatedBody&& record,
                 EventHandler* events, PhysicsWorld& physics);
    // Subscribes anew, bound to this object; the moved-from subscriptions end.
    AnimatedBody(AnimatedBody&& other) noexcept;
    AnimatedBody(AnimatedBody const&) = delete;
    AnimatedBody& operator=(AnimatedBody const&) = delete;
    AnimatedBody& operator=(AnimatedBody&&) = delete;

    void update(float dt);
    State state() const { return State(state_); }
    float time() const { return time_; }

private:
    void subscribe(EventHandler* events, uint32_t play, uint32_t stop, uint32_t reverse, uint32_t rewind);

    uint32_t state_ = Stopped;
    float time_ = 0.0f;
    b2Body* body_ = nullptr;
    PristineLevel::Keyframes keyframes_;
    PhysicsWorld* physics_;
    EventHandler* events_;
    std::vector<SlotCallbackRef> slots_;
};
