#pragma once
// A lever: raises its on signal when turned past its threshold (and, when set, only while jump
// is held), its off signal when it comes back.
#include <cstdint>

#include "audio/Sound.h"
#include "level/PristineLevel.h"
#include "world/CulledVector.h"

class b2Body;
class b2RevoluteJoint;
class b2World;
class DynamicBody;
class EventHandler;
namespace Audio {
class Context;
}
namespace Graphics {
class Context;
}
namespace Player {
class Player;
}

class JointSwitch {
public:
    JointSwitch(Graphics::Context* graphics, Audio::Context* audio, EventHandler* events,
                CulledVector<DynamicBody, DynamicBody*> const& bodies, b2Body* ground, b2World& world,
                PristineLevel::JointSwitch const& record);

    void update(Player::Player const& player);
    bool isOn() const { return isOn_; }
    b2RevoluteJoint* joint() const { return joint_; }

private:
    EventHandler* events_;
    uint32_t onSignal_;
    uint32_t offSignal_;
    b2RevoluteJoint* joint_ = nullptr;
    float threshold_;
    bool isOn_ = false;
    Sound onSound_;
    Sound offSound_;
    bool needsJump_;
};
