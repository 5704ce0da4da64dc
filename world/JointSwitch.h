#pragma once
// A lever whose angle switches level signals on and off.
#include "level/PristineLevel.h"

namespace Player {
class Player;
}

class JointSwitch {
public:
    explicit JointSwitch(PristineLevel::JointSwitch const&) {}
    void update(Player::Player&) {}
};
