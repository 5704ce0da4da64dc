#pragma once
// The player's death and respawn: a red-tinted capture, a fade to black, the jump back to the
// check point, a wait for textures and a fade back in.
#include <boost/optional.hpp>

#include <cstdint>

#include "level/GameMode.h"
#include "menus/TriggerVariant.h"

class Camera;
class EventHandler;
class PostProcessingStep;
namespace Graphics {
class Context;
}

namespace Player {

class Player;

class Respawner {
public:
    enum State : uint32_t { Alive = 0, Dying = 1, Respawned = 2, WaitingForTextures = 3, FadingIn = 4 };

    Respawner(EventHandler* events, GameMode mode, boost::optional<unsigned long> const& levelIndex, float* levelTime,
              TransitToEndOfLevelCallback endOfLevel)
        : events_(events), mode_(mode), levelIndex_(levelIndex), levelTime_(levelTime), endOfLevel_(std::move(endOfLevel)) {}

    // Only while alive.
    void kill(Player& player, PostProcessingStep* postProcessing);
    void update(Player& player, Camera& camera, Graphics::Context* graphics, PostProcessingStep* postProcessing);
    uint32_t state() const { return state_; }
    boost::optional<unsigned long> const& levelIndex() const { return levelIndex_; }
    float const* levelTime() const { return levelTime_; }

private:
    uint32_t state_ = Alive;
    EventHandler* events_;
    GameMode mode_;
    boost::optional<unsigned long> levelIndex_;
    float* levelTime_;
    TransitToEndOfLevelCallback endOfLevel_;
};

}  // namespace Player
