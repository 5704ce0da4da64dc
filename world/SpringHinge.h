#pragma once
// A hinge pulled back toward its rest angle by its motor, with a sound each time it swings out
// past one of its thresholds.
#include "audio/Sound.h"
#include "level/PristineLevel.h"
#include "world/CulledVector.h"

class b2Body;
class b2RevoluteJoint;
class b2World;
class DynamicBody;
namespace Audio {
class Context;
}

class SpringHinge {
public:
    SpringHinge(Audio::Context* audio, CulledVector<DynamicBody, DynamicBody*> const& bodies, b2Body* ground,
                b2World& world, PristineLevel::SoundHinge const& record);

    void update();
    // Null when the record could not be built; it then does nothing.
    b2RevoluteJoint* joint() const { return joint_; }
    int soundsPlayed() const { return soundsPlayed_; }

private:
    void play(Sound& sound);

    b2RevoluteJoint* joint_ = nullptr;
    float stiffness_;
    float restAngle_;
    Sound highSound_;
    float highThreshold_;
    Sound lowSound_;
    float lowThreshold_;
    bool lowArmed_ = true;
    bool highArmed_ = true;
    int soundsPlayed_ = 0;
};
