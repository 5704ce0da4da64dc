#pragma once
// The screen that closes a level: freezes the game's last frame as a greyed backdrop, drops the
// game screen, fades the music out and shows the results board. From there the player goes on
// to level select (at the next normal level), to the closing cut-scene after the last level, to
// the main menu (also where a hardcore run that stopped early goes on to), or tries again.
#include <glm/mat4x4.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "menus/BackgroundDownloaderOverlay.h"
#include "menus/LevelSelectMenu.h"
#include "menus/ResultsMenu.h"
#include "menus/TriggerVariant.h"
#include "os/AbstractAppCallbacks.h"
#include "os/ViewController.h"

class CloudSyncThread;
class PostProcessingStep;
namespace Fonts {
class Context;
}

class EndOfLevelViewController : public ViewController {
public:
    enum Screen : uint32_t { kResults = 0, kLevelSelect = 1, kLeaving = 2 };

    // The game screen is taken over last, so a throw leaves it with the caller.
    EndOfLevelViewController(Graphics::Context* graphics, Audio::Context* audio, std::unique_ptr<ViewController>&& game,
                             PostProcessingStep* postProcessing, Fonts::Context* fonts,
                             ReturnToMainMenuCallback const& returnToMainMenu, StartLevelCallback const& startLevel,
                             TriggerVariant const& result, std::string const& levelPath, std::string const& levelName,
                             bool skipTutorial, CloudSyncThread* cloudSync, bool hardcore);
    ~EndOfLevelViewController() override;

    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void preDraw(Graphics::Context* graphics) override;
    void update(Audio::Context& audio, float dt, float now) override;
    void touchMoved(glm::vec2 const& point, uint32_t touch) override;
    void touchBegan(glm::vec2 const& point, uint32_t touch) override;
    void touchEnded(glm::vec2 const& point, uint32_t touch) override;
    void gamepadInput(GamepadState const& state) override;
    void const* inputTaker() const override;
    void buttonPressed(uint32_t code) override;
    void scrollPageBack() override;
    void scrollPageForward() override;

    // The catalog index level select opens at after the level at path: the next normal level,
    // bonus levels skipped, else the last record. A path outside the catalog counts as the last.
    static size_t nextNormalLevel(std::string const& path);

    uint32_t state() const { return state_; }
    uint32_t currentMenu() const { return currentMenu_; }
    ViewController* game() const { return game_.get(); }
    ResultsMenu* results() { return results_ ? &*results_ : nullptr; }
    LevelSelectMenu* levelSelect() { return levelSelect_ ? &*levelSelect_ : nullptr; }
    // Only while the second archive was not mounted when the screen was built.
    BackgroundDownloaderOverlay* downloadOverlay() { return overlay_ ? &*overlay_ : nullptr; }
    // Level select's way back to the board.
    void backToResults() { requestedMenu_ = kResults; }

private:
    struct Fade {
        float from = 0.0f, to = 0.0f, rate = 0.0f, current = 0.0f, progress = 0.0f;
        uint32_t state = 0;  // 0 idle, 1 running, 2 done
    };

    void buildResults();
    void updateStateTransitions();
    void leave(std::function<void()> action);
    // The overlay while one of its boxes is up, else the active menu.
    template <class Input>
    void route(Input&& input);

    Graphics::Context* graphics_;
    Audio::Context* audio_;
    std::unique_ptr<ViewController> game_;
    PostProcessingStep* postProcessing_;
    Fonts::Context* fonts_;
    uint32_t state_ = 0;
    uint32_t currentMenu_ = kResults;
    uint32_t requestedMenu_ = kResults;
    std::optional<LevelSelectMenu> levelSelect_;
    std::string levelPath_;
    std::function<bool()> mainMenuAction_;
    StartLevelCallback startLevelAction_;
    std::function<bool()> retryAction_;
    TriggerVariant result_;
    GameMode mode_;
    glm::mat4 projection_;
    float savedMusicVolume_;
    Fade musicFade_;
    CloudSyncThread* cloudSync_;
    std::optional<ResultsMenu> results_;
    bool hardcore_;
    Menu* activeMenu_ = nullptr;
    std::function<void()> pendingAction_;
    std::optional<BackgroundDownloaderOverlay> overlay_;
};
