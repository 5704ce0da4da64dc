#pragma once
// A coin to collect; its trigger signal collects it.
#include <cstdint>

#include "level/GameMode.h"
#include "level/PristineLevel.h"

class DrawList;
namespace Graphics {
class Context;
}
namespace Audio {
class Context;
}
namespace Player {
class Player;
}

class Coin {
public:
    Coin(PristineLevel::MeshSet const& meshSet, DrawList* drawList, PristineLevel::Coin const& record,
         Graphics::Context* graphics, Audio::Context* audio, GameMode mode)
        : achievement_(record.achievement) {
        (void)meshSet, (void)drawList, (void)graphics, (void)audio, (void)mode;
    }

    void trigger() { collected_ = true; }
    void update(Player::Player&, float, float) {}
    void draw() {}
    bool isCollected() const { return collected_; }
    // Non-zero: an achievement coin, not counted toward the level's coins.
    uint32_t achievement() const { return achievement_; }

private:
    uint32_t achievement_;
    bool collected_ = false;
};
