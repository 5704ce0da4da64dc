#pragma once
// Gears and sliding racks made from level bodies: the first gear is driven by a motor, each later
// gear and every rack is coupled to its gear by a gear joint. Three signals start the drive, send
// it slowly back, or start it and lock it.
#include <vector>

#include "audio/Sound.h"
#include "level/PristineLevel.h"
#include "os/EventHandler.h"
#include "world/CulledVector.h"

class b2Body;
class b2RevoluteJoint;
class PhysicsWorld;
class DynamicBody;
namespace Audio {
class Context;
}
namespace Graphics {
class Context;
}

class RackAndPinion {
public:
    // Radians past the lower stop that count as having left it, and as being back on it.
    inline static constexpr float leaveStop = 0.01f;
    inline static constexpr float reachStop = 0.001f;

    RackAndPinion(Graphics::Context* graphics, Audio::Context* audio,
                  CulledVector<DynamicBody, DynamicBody*> const& bodies, PhysicsWorld& physics, EventHandler* events,
                  PristineLevel::RackAndPinion const& record);
    RackAndPinion(RackAndPinion&& other) noexcept;
    RackAndPinion(RackAndPinion const&) = delete;
    RackAndPinion& operator=(RackAndPinion const&) = delete;
    RackAndPinion& operator=(RackAndPinion&&) = delete;

    void update();

    // Null without a usable first gear: the mechanism then does nothing.
    b2RevoluteJoint* drive() const { return drive_; }
    bool isLocked() const { return locked_; }
    int stopSoundsPlayed() const { return stopSounds_; }
    bool isMoveSoundOn() const { return moveSoundOn_; }

private:
    void subscribe(EventHandler* events, uint32_t start, uint32_t back, uint32_t lock);
    bool aboveLower() const;
    void start();
    void goBack();
    void lock();

    b2Body* drivenBody_ = nullptr;
    b2RevoluteJoint* drive_ = nullptr;
    float speed_;
    EventHandler* events_;
    std::vector<SlotCallbackRef> slots_;
    bool locked_ = false;
    Sound moveSound_;
    Sound stopSound_;
    bool wasAboveLower_ = false;
    bool moveSoundOn_ = false;
    int stopSounds_ = 0;
};
