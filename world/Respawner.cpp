#include "world/Respawner.h"

#include <glm/vec3.hpp>

#include <algorithm>
#include <cmath>

#include "graphics/Context.h"
#include "graphics/PostProcessingStep.h"
#include "level/LevelCatalog.h"
#include "os/EventHandler.h"
#include "os/services/PlatformServices.h"
#include "world/Camera.h"
#include "world/HardcoreRunTime.h"
#include "world/Player.h"

namespace Player {

void Respawner::kill(Player& player, PostProcessingStep* postProcessing) {
    if (state_ != Alive) {
        return;
    }
    if (player.ouchSound_) {
        player.ouchSound_->play();
    }
    player.deathSound_.play();
    events_->trigger(holdPlaySignal);
    player.blockMove(10000.0f);
    player.blockJump(10000.0f);
    state_ = Dying;
    // A hardcore run counts no deaths. A death in a catalog level ends the run, to be retried
    // from the first level; without a level index (or an end-of-level callback) there is no run
    // to end, so the player respawns as in the other modes.
    bool const endsRun = mode_ == GameMode::Hardcore && levelIndex_ && endOfLevel_;
    if (mode_ != GameMode::Hardcore) {
        ++player.deaths_;
    }
    if (endsRun) {
        HardcoreRunTime::total += levelTime_ != nullptr ? *levelTime_ : 0.0f;
        int64_t const done = LevelCatalog::indexInMode(int32_t(*levelIndex_), GameMode::Normal);
        ResultsMenu::HardcoreFailedGameModeTriggerParameters const failed(
            HardcoreRunTime::total, uint64_t(std::max<int64_t>(done, 0)), LevelCatalog::countOfMode(GameMode::Normal));
        LevelCatalog::Entry const& first = LevelCatalog::entry(0);
        endOfLevel_(TriggerVariant(failed), first.path, first.nameKey);
    } else if (postProcessing != nullptr) {
        postProcessing->requestCapture();
        postProcessing->fadeAddColor(glm::vec3(0.6f, 0.0f, 0.0f), glm::vec3(0.0f), 0.002f);
        postProcessing->fadeColor(glm::vec3(0.25f), glm::vec3(1.0f), 0.002f);
        postProcessing->startBackdropFadeIn();
    }
    vibrate();
}

// Without a post-processing step or a graphics context (a world run headless) each wait is over
// at once.
void Respawner::update(Player& player, Camera& camera, Graphics::Context* graphics, PostProcessingStep* postProcessing) {
    switch (state_) {
    case Dying:
        if (postProcessing == nullptr || postProcessing->backdropFade() > 0.5f) {
            if (postProcessing != nullptr) {
                postProcessing->fadeColor(glm::vec3(1.0f), glm::vec3(0.0f), 0.002f);
            }
            glm::vec2 at = player.checkPoint_->respawnPosition;
            if (!std::isfinite(at.x) || !std::isfinite(at.y)) {
                at = glm::vec2(0.0f);
            }
            player.resetTo(at);
            camera.setPosition(at);
            state_ = Respawned;
        }
        break;
    case Respawned:
        if (postProcessing == nullptr || !postProcessing->isColorFading()) {
            if (graphics != nullptr) {
                graphics->setBurstLoading(true);
            }
            player.pickOuchSound();
            state_ = WaitingForTextures;
        }
        break;
    case WaitingForTextures:
        if (graphics == nullptr || graphics->texturesLoaded()) {
            if (graphics != nullptr) {
                graphics->setBurstLoading(false);
            }
            for (uint32_t signal : player.checkPoint_->respawnSignals) {
                events_->trigger(signal);
            }
            state_ = FadingIn;
            if (postProcessing != nullptr) {
                postProcessing->fadeColor(glm::vec3(0.0f), glm::vec3(1.0f), 0.002f);
                postProcessing->resetBackdropFade();
                postProcessing->releaseCapture();
            }
            events_->trigger(resumePlaySignal);
        }
        break;
    case FadingIn:
        if (postProcessing == nullptr || (!postProcessing->isColorFading() && postProcessing->backdropFade() == 0.0f)) {
            state_ = Alive;
            player.blockMove(250.0f);
            player.blockJump(250.0f);
        }
        break;
    default:
        break;
    }
}

}  // namespace Player
