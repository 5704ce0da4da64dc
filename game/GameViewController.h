#pragma once
// The screen that runs one level: its world, game mode, control scheme and HUD. Per-frame input,
// update and drawing are routed from here, and the level's end is handed on from here.
#include <boost/optional.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "game/ControlScheme.h"
#include "game/GameModeStateMachine.h"
#include "game/HUD.h"
#include "game/TutorialOverlay.h"
#include "level/GameMode.h"
#include "level/PristineLevel.h"
#include "menus/ConfirmationBox.h"
#include "menus/TriggerVariant.h"
#include "os/AbstractAppCallbacks.h"
#include "os/EventHandler.h"
#include "os/ViewController.h"
#include "world/Rect.h"
#include "world/World.h"

class PostProcessingStep;
namespace Fonts {
class Context;
}

class GameViewController : public ViewController {
public:
    static constexpr uint32_t levelEndSignal = 20000000;
    static constexpr uint32_t levelStartSignal = 20000001;
    static constexpr uint32_t holdSignal = 20000002;
    static constexpr uint32_t resumeSignal = 20000003;
    static constexpr uint32_t optionsClosedSignal = 20000005;
    static constexpr uint32_t controllerConnectedSignal = 20000008;
    static constexpr uint32_t controllerDisconnectedSignal = 20000009;
    static constexpr uint32_t hidePauseSignal = 20000027;
    static constexpr uint32_t showPauseSignal = 20000028;
    static constexpr uint32_t pauseButtonCode = 0x1000003;
    static constexpr uint32_t menuButtonCode = 0x1000000;
    static constexpr uint32_t diveReleaseCode = 0x1000015;

    GameViewController(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts, EventHandler* events,
                       std::string const& path, std::string const& name, PostProcessingStep* postProcessing,
                       TransitToEndOfLevelCallback const& endOfLevel, TriggerPauseMenuCallback const& pauseMenu,
                       ShowConfirmationBoxCallback const& showConfirmationBox, bool restarted, StartLevelCallback const& startLevel, PristineLevel::Data&& level,
                       bool skipTutorial, TransitToMainMenuCallback const& mainMenu, bool hardcore);
    ~GameViewController() override;

    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void preDraw(Graphics::Context* graphics) override;
    void update(Audio::Context& audio, float dt, float now) override;
    void touchMoved(glm::vec2 const& point, uint32_t touch) override;
    void touchBegan(glm::vec2 const& point, uint32_t touch) override;
    void touchEnded(glm::vec2 const& point, uint32_t touch) override;
    void buttonPressed(uint32_t code) override;
    // The window lost the focus: the level pauses through pause(), without the mode's own use of
    // the pause button (which skips a cut-scene).
    void windowFocusLost() override;
    void gamepadInput(GamepadState const& state) override;
    // A cut-scene takes the input of its own: what is down as it ends is no press in its level.
    void const* inputTaker() const override { return mode_ == GameMode::Intro ? this : levelTaker(); }

    World& getWorld() { return world_; }
    EventHandler* getEventHandler() { return events_; }
    PostProcessingStep* getPostProcessingStep() { return postProcessing_; }
    ControlScheme* getControlScheme() { return controlScheme_.get(); }
    void disablePauseButton();
    // The level could not be read whole: once the screen is up, a box says what failed, and its
    // button leads to the main menu.
    void showLoadFailure(std::string const& what);
    // Every way of pausing comes here: the pause button, a touch on the on-screen pause and the
    // loss of the window's focus. The mode may refuse, and nothing pauses once the level's end
    // is queued or done.
    void pause();

    // The saved control-scheme choice: 0 while a controller is present or the platform has its
    // own input, else the save record's byte.
    static uint8_t savedControlSchemeChoice();
    void publishControlLayers();
    // The end of the level: hands the mode's result on, or chains the next hardcore level. Acts
    // once per screen.
    void onLevelEnd();
    // The end-of-level callback for the world's own ends (a hardcore death): it closes the same
    // latch, so a goal in the same frame does not end the level a second time.
    TransitToEndOfLevelCallback worldEndOfLevelCallback();

    // The controller's state as player input.
    static ControlScheme::InputState controllerInput(GamepadState const& state);

    // What the tests look into.
    GameMode mode() const { return mode_; }
    GameModeStateMachine& modeMachine() { return *modeMachine_; }
    HUD& hud() { return hud_; }
    bool isPaused() const { return paused_; }
    float pausedTime() const { return pausedTime_; }
    Rect const& pauseButtonRect() const { return pauseButtonRect_; }
    ControlScheme* pendingControlScheme() const { return pendingControlScheme_.get(); }
    uint8_t controlSchemeChoice() const { return controlSchemeChoice_; }
    bool levelEnded() const { return levelEnded_; }
    TutorialOverlay* tutorial() { return tutorial_ ? &*tutorial_ : nullptr; }

private:
    void requestPause(TriggerPauseMenuCallback const& pauseMenu, std::string const& path, std::string const& name);
    void updateGame(Audio::Context& audio, float dt, float now);
    void reapplyControlScheme();
    void hold(bool on);
    bool drawingCaptured() const;

    Graphics::Context* graphics_;
    EventHandler* events_;
    HUD hud_;
    StartLevelCallback startLevel_;
    GameMode mode_;
    std::unique_ptr<GameModeStateMachine> modeMachine_;
    boost::optional<size_t> catalogIndex_;
    World world_;
    uint8_t controlSchemeChoice_;
    std::unique_ptr<ControlScheme> controlScheme_;
    std::unique_ptr<ControlScheme> pendingControlScheme_;
    Rect pauseButtonRect_;
    Audio::Context* audio_;
    PostProcessingStep* postProcessing_;
    std::string path_;
    std::string name_;
    bool levelEnded_ = false;
    // Destroyed after the slots that reach it.
    boost::optional<TutorialOverlay> tutorial_;
    std::vector<SlotCallbackRef> slots_;
    bool paused_ = false;
    float pausedTime_ = 0.0f;
    TransitToEndOfLevelCallback endOfLevel_;
    std::function<void()> pauseRequest_;
    bool pauseButtonPressed_ = false;
    boost::optional<ControlScheme::InputState> controllerInput_;
    TransitToMainMenuCallback mainMenu_;
    ShowConfirmationBoxCallback showBox_;
    Fonts::Context* fonts_;
    std::string loadFailure_;
    bool leaveForMenu_ = false;
};
