#pragma once
// Cut-scenes: a level that plays by itself while the player's input is blocked, with its music
// kept in step with the world time, optional subtitles on a text box, optional scrolling credits,
// a skip button and a fade to black. Then the catalog level the cut-scene introduces starts, or,
// when no record names it, the main menu.
#include <glm/vec2.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fonts/Font.h"
#include "fonts/Subtitles.h"
#include "fonts/TextMesh.h"
#include "game/CutsceneServices.h"
#include "game/GameModeStateMachine.h"
#include "graphics/Sprite.h"
#include "level/PristineLevel.h"
#include "menus/Button.h"
#include "os/AbstractAppCallbacks.h"

class EventHandler;
class HUD;
namespace Audio {
class Context;
}
namespace Fonts {
class Context;
}

class IntroGameModeStateMachine : public GameModeStateMachine {
public:
    enum State : uint32_t { kStart = 0, kStartMusic = 1, kPlaying = 2, kFading = 3, kFinished = 4 };

    static constexpr float fadeRate = 0.00075f;
    static constexpr float skipFadeRate = 0.0025f;
    // The fade starts this long before the cut-scene's length (music time).
    static constexpr float closingLeadMs = 2000.0f;
    // How dark the scene turns under fully shown credits: white lines then read at 4.5:1 or
    // better over anything a scene draws, white included.
    static constexpr float creditsDim = 0.6f;
    // The music follows the world time when it drifts further than this.
    static constexpr uint64_t musicToleranceMs = 100;

    IntroGameModeStateMachine(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                              EventHandler* events, StartLevelCallback const& startLevel, std::string const& levelPath,
                              HUD& hud, PristineLevel::MetaData const& metaData, bool skipTutorial,
                              TransitToMainMenuCallback const& mainMenu);
    ~IntroGameModeStateMachine() override;

    void update(GameViewController& game, float dt, float t) override;
    void preDraw(GameViewController&) override {}
    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader,
                     glm::mat4 const& projection) override;
    void touchMoved(glm::vec2 const& point, uint32_t touch) override;
    void touchBegan(glm::vec2 const& point, uint32_t touch) override;
    void touchEnded(glm::vec2 const& point, uint32_t touch) override;
    void gamepadInput(GamepadState const& state) override;
    bool buttonPressed(uint32_t code) override;

    // Once the fade is complete: the introduced level, else the main menu.
    void finish();

    // What the tests look into.
    uint32_t state() const { return state_; }
    float fadeAmount() const { return fadeAmount_; }
    float fadeSpeed() const { return fadeSpeed_; }
    float skipAlpha() const { return skipAlpha_; }
    float skipVisibility() const { return skipVisibility_; }
    float subtitleAlpha() const { return subtitleAlpha_; }
    uint64_t subtitleLineCount() const { return subtitleLineCount_; }
    float subtitleBoxScale() const { return subtitleBoxScale_; }
    bool hasSubtitles() const { return subtitles_.has_value(); }
    bool hasCredits() const { return credits_ != nullptr; }
    std::string const& musicPath() const { return musicPath_; }
    // Where each line of the subtitle shown was laid out.
    std::vector<glm::vec2> const& subtitleOrigins() const { return subtitleOrigins_; }
    Fonts::TextMesh const& subtitleMesh() const { return subtitleMesh_; }
    Button& skipButton() { return skipButton_; }

private:
    bool skip();
    void layOutSubtitles(std::vector<std::string> const& lines);
    void drawSkipButton(Graphics::StandardShader* shader, glm::mat4 const& projection) const;

    bool skipTutorial_;
    Button skipButton_;
    float skipAlpha_ = 0.0f;
    uint32_t state_ = kStart;
    StartLevelCallback startLevel_;
    std::string levelPath_;
    HUD* hud_;
    std::string musicPath_;
    Sprite fade_;
    std::optional<Subtitles> subtitles_;
    std::optional<Sprite> fullBox_;
    std::optional<Sprite> halfBox_;
    float cutsceneLength_;
    float subtitleAlpha_ = 0.0f;
    float fadeAmount_ = 0.0f;
    Audio::Context* audio_;
    Fonts::Font subtitleFont_;
    Fonts::TextMesh subtitleMesh_;
    uint64_t subtitleLineCount_ = 0;
    float fadeSpeed_ = fadeRate;
    float skipVisibility_;
    float subtitleBoxScale_ = 1.0f;
    TransitToMainMenuCallback mainMenu_;
    float creditsStart_;
    std::unique_ptr<CutsceneCredits> credits_;
    std::vector<glm::vec2> subtitleOrigins_;
    bool finished_ = false;
};
