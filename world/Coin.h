#pragma once
// A coin to collect: a sprite-sheet coin with an expanding ring and a spinning glint when taken.
// An achievement coin reports its achievement instead of counting, and only shows to a player
// signed in to the game services.
#include <glm/vec2.hpp>

#include <cstdint>
#include <optional>

#include "audio/Sound.h"
#include "graphics/QuadInstance.h"
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
    inline static constexpr float ringMs = 180.0f;
    inline static constexpr float animationMs = 300.0f;

    // A coin whose frame time or sheet columns are 0 would divide by zero: it is built hidden,
    // logged.
    Coin(PristineLevel::MeshSet const& meshSet, DrawList* drawList, PristineLevel::Coin const& record,
         Graphics::Context* graphics, Audio::Context* audio, GameMode mode);

    void trigger();
    void update(Player::Player& player, float dt, float time);
    void draw();
    bool hasAchievement() const { return achievement_ != 0; }
    // Non-zero: an achievement coin, not counted toward the level's coins.
    uint64_t achievement() const { return achievement_; }
    bool isCollected() const { return collected_; }
    bool isHidden() const { return hidden_; }
    bool isAnimating() const { return animating_; }
    float ringAlpha() const { return ringAlpha_; }
    glm::vec2 uvOffset() const { return uvOffset_; }

private:
    Graphics::Context* graphics_;
    QuadInstance coin_;
    QuadInstance ring_;
    QuadInstance glint_;
    glm::vec2 frameSize_;
    glm::vec2 uvOffset_{0.0f};
    uint64_t rows_;
    uint64_t columns_;
    bool collected_ = false;
    bool touched_ = false;
    glm::vec2 center_;
    bool animating_ = false;
    float collectTime_ = 0.0f;
    float ringScale_ = 0.0f;
    float ringAlpha_ = 0.0f;
    float glintScale_ = 0.0f;
    float glintAngle_ = 0.0f;
    uint64_t startFrame_;
    uint64_t frameCount_;
    Sound collectSound_;
    float frameTime_;
    uint64_t achievement_;
    bool hidden_ = false;
    std::optional<Sound> achievementSound_;
    // The frame the last full update showed, and whether nothing has moved since.
    uint64_t shownFrame_ = 0;
    bool settled_ = false;
};
