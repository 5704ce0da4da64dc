#pragma once
// The screen in front of a paused level: keeps the game screen alive (and updated, still
// paused), freezes its last frame as a blurred, greyed backdrop, fades the level's sounds and
// the music out, and offers resume, options, restart and main menu. Resume hands the game
// screen on to an UnPauseViewController; restart and main menu ask first.
#include <glm/mat4x4.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/Sound.h"
#include "fonts/TextMesh.h"
#include "graphics/Quad.h"
#include "graphics/Texture.h"
#include "menus/AnimatedButton.h"
#include "menus/ConfirmationBox.h"
#include "menus/FocusNavigator.h"
#include "menus/Menu.h"
#include "menus/OptionsMenu.h"
#include "menus/PopInLabel.h"
#include "os/AbstractAppCallbacks.h"
#include "os/ViewController.h"

class EventHandler;
class PostProcessingStep;
namespace Fonts {
class Context;
}

class PauseViewController : public ViewController {
public:
    static constexpr uint32_t signalPaused = 20000002;
    static constexpr uint32_t signalOptionsClosed = 20000005;

    enum State : uint32_t {
        kStart = 0,
        kCaptureRequested = 1,
        kWaitingForCapture = 2,
        kWaitingForArt = 3,
        kInteractive = 9,
        kSlidingToOptions = 10,
        kOpeningOptions = 11,
        kOptionsClosed = 12,
        kSlidingBack = 13,
        kDismissResume = 14,
        kWaitingForHidden = 18,
        kHandingOver = 19,
        kLeavingForMainMenu = 20,
        kMainMenuCapture = 21,
        kRestarting = 22,
        kRestartCapture = 23,
        kReplaced = 24,
    };

    // A running tween: value = progress * to + (1 - progress) * from.
    struct Fade {
        float from = 0.0f, to = 0.0f, rate = 0.0f, current = 0.0f, progress = 0.0f;
        uint32_t state = 0;  // 0 idle, 1 running, 2 done
        void step(float dt);
    };

    // The game screen is taken over last, so a throw leaves it with the caller.
    PauseViewController(Graphics::Context* graphics, Audio::Context* audio, std::unique_ptr<ViewController>&& game,
                        PostProcessingStep* postProcessing, Fonts::Context* fonts, EventHandler* events,
                        ReturnToMainMenuCallback const& returnToMainMenu, StartLevelCallback const& startLevel,
                        std::string const& levelPath, std::string const& levelName,
                        ResumeFromPauseCallback const& resume, bool skipTutorial, bool hardcore);
    ~PauseViewController() override;

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

    // Acts only while the menu is interactive and neither question is open.
    bool requestResume();

    uint32_t state() const { return state_; }
    float slideValue() const { return slideValue_; }
    Fade const& musicFade() const { return musicFade_; }
    ViewController* game() const { return game_.get(); }
    ViewController* keptGame() const { return keptGame_.get(); }
    ConfirmationBox& restartPopup() { return restartPopup_; }
    ConfirmationBox& mainMenuPopup() { return mainMenuPopup_; }
    AnimatedButton& resumeButton() { return resume_; }
    AnimatedButton& optionsButton() { return options_; }
    AnimatedButton& restartButton() { return restart_; }
    AnimatedButton& mainMenuButton() { return mainMenu_; }
    OptionsMenu& optionsMenu() { return optionsMenu_; }
    Menu* openSubmenu() const { return openSubmenu_; }
    void closeOptionsMenu();

private:
    struct Slide {
        float from = 0.0f, to = 0.0f, rate = 0.0f, threshold1 = 0.0f, threshold2 = 0.0f;
        float time = 0.0f;
        uint32_t state = 0;  // 0 idle, 1 running, 2 done
    };
    static Slide slideOut();
    static Slide slideIn();

    bool popupActive() const { return restartPopup_.isActive() || mainMenuPopup_.isActive(); }
    bool stepTimer(float dt);
    void updateElements(float dt, bool title, bool resume, bool options, bool restart, bool mainMenu);
    bool allPopIns(bool shown) const;
    void capturedExit();
    bool restartLevel();

    Graphics::Context* graphics_;
    Audio::Context* audio_;
    Slide slide_;
    float slideValue_ = 0.0f;
    Sound openSound_, closeSound_, buttonSound_;
    std::unique_ptr<ViewController> game_;
    std::unique_ptr<ViewController> keptGame_;
    PostProcessingStep* postProcessing_;
    Fonts::Context* fonts_;
    EventHandler* events_;
    uint32_t state_ = kStart;
    ReturnToMainMenuCallback returnToMainMenu_;
    StartLevelCallback startLevel_;
    std::string levelPath_;
    std::function<bool()> restartAction_;
    ResumeFromPauseCallback resumeCallback_;
    glm::mat4 projection_;
    PopInLabel title_;
    AnimatedButton resume_, options_, restart_, mainMenu_;
    float timer_ = 0.0f;
    Fonts::TextMesh labels_;
    float savedMusicVolume_;
    Fade musicFade_;
    ConfirmationBox restartPopup_, mainMenuPopup_;
    OptionsMenu optionsMenu_;
    Menu* openSubmenu_ = nullptr;
    FocusNavigator focus_;
    // Darkens the frozen game behind the menu, so its words read on any level.
    Graphics::Texture veilTexture_;
    Quad veilQuad_;
};
