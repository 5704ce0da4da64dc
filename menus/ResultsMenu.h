#pragma once
// The results board that closes every level. The result of a level reaches it as one of five
// parameter records, one per way a level can end; the game screen and the player's hardcore death
// build them. The board shows the result row by row, records it once, and offers continue, retry,
// main menu and the level's leaderboard.
#include <boost/optional.hpp>
#include <boost/variant.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/Sound.h"
#include "fonts/TextLabel.h"
#include "fonts/TextMesh.h"
#include "graphics/SlideTransition.h"
#include "graphics/Sprite.h"
#include "level/GameMode.h"
#include "menus/AnimatedButton.h"
#include "menus/Button.h"
#include "menus/FocusNavigator.h"
#include "menus/Menu.h"
#include "menus/PopInBurstSprite.h"
#include "menus/PopInLabel.h"
#include "menus/PopInSprite.h"
#include "menus/UVSlideLabel.h"

class CloudSyncThread;
namespace Audio {
class Context;
}
namespace Fonts {
class Context;
}

class ResultsMenu : public Menu {
public:
    // Alternative 0: normal and intro levels.
    struct NormalGameModeTriggerParameters {
        uint64_t coinsCollected = 0;
        uint64_t coinTotal = 0;
        uint64_t deaths = 0;
        float levelTime = 0.0f;  // ms
        uint64_t levelIndex = 0;
        NormalGameModeTriggerParameters() = default;
        NormalGameModeTriggerParameters(uint64_t coins, uint64_t total, uint64_t deaths, float time, uint64_t index)
            : coinsCollected(coins), coinTotal(total), deaths(deaths), levelTime(time), levelIndex(index) {}
    };
    // Alternative 1.
    struct CollectTimeGameModeTriggerParameters {
        uint64_t coinsCollected = 0;
        uint64_t coinTotal = 0;
        float remainingTime = 0.0f;  // ms
        uint64_t levelIndex = 0;
        CollectTimeGameModeTriggerParameters() = default;
        CollectTimeGameModeTriggerParameters(uint64_t coins, uint64_t total, float remaining, uint64_t index)
            : coinsCollected(coins), coinTotal(total), remainingTime(remaining), levelIndex(index) {}
    };
    // Alternative 2.
    struct TimeAttackGameModeTriggerParameters {
        float laps = 0.0f;
        uint64_t levelIndex = 0;
        TimeAttackGameModeTriggerParameters() = default;
        TimeAttackGameModeTriggerParameters(float laps, uint64_t index) : laps(laps), levelIndex(index) {}
    };
    // Alternative 3: a hardcore run that finished the last level.
    struct HardcoreGameModeTriggerParameters {
        float runTime = 0.0f;  // ms
        HardcoreGameModeTriggerParameters() = default;
        explicit HardcoreGameModeTriggerParameters(float runTime) : runTime(runTime) {}
    };
    // Alternative 4: a hardcore run that ended in a death.
    struct HardcoreFailedGameModeTriggerParameters {
        float runTime = 0.0f;  // ms
        uint64_t levelsCompleted = 0;
        uint64_t levelCount = 0;
        HardcoreFailedGameModeTriggerParameters() = default;
        HardcoreFailedGameModeTriggerParameters(float runTime, uint64_t completed, uint64_t count)
            : runTime(runTime), levelsCompleted(completed), levelCount(count) {}
    };

    using Variant = boost::variant<NormalGameModeTriggerParameters, CollectTimeGameModeTriggerParameters,
                                   TimeAttackGameModeTriggerParameters, HardcoreGameModeTriggerParameters,
                                   HardcoreFailedGameModeTriggerParameters>;

    // 1 plays the sequence and records the result; 2 shows the final board at once, recording nothing.
    enum InitState : uint32_t { kAnimated = 1, kImmediate = 2 };

    ResultsMenu(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts, GameMode mode,
                CloudSyncThread* cloudSync, std::string const& levelPath, std::function<bool()> const& mainMenuAction,
                std::function<bool()> const& retryAction, Variant const& result);

    void trigger(Variant const& result, std::function<void()> const& finished, InitState initState);

    bool isFinished() const { return state_ == 11; }
    uint32_t state() const { return state_; }
    uint32_t initState() const { return initState_; }
    uint16_t goalFlags() const { return goalFlags_; }
    // The texts on the board: rows 1 to 3, laps, run, target.
    std::vector<std::string> texts();
    float slideOffset() const { return slide_.current; }
    bool isLeaderboardFocusable() const { return signedIn_; }
    AnimatedButton& continueButton() { return continue_; }
    Button& retryButton() { return retry_; }
    Button& mainMenuButton() { return mainMenu_; }
    AnimatedButton& leaderboardButton() { return leaderboard_; }
    FocusNavigator& focus() { return *focus_; }

    bool continueAction();
    bool showLevelLeaderboard();
    static bool showHardcoreTimeLeaderboard();
    static bool showHardcoreLevelsLeaderboard();

    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& view) override;
    void update(float dt) override;
    void preDraw() override;
    void touchMoved(glm::vec2 const& point, unsigned touch) override;
    void touchBegan(glm::vec2 const& point, unsigned touch) override;
    void touchEnded(glm::vec2 const& point, unsigned touch) override;
    void scrollPageBack() override {}
    void scrollPageForward() override {}
    void gamepadInput(GamepadState const& state) override;
    // The controller is taken once the board is all shown and settled. While the board first
    // counts up, what it is given is ignored and so spent there, not kept for the buttons; when it
    // comes back in at once or leaves, it is a page changing (null).
    void const* inputTaker() const override {
        if (state_ == 11 && initState_ == 4) return this;
        return state_ < 11 && initState_ != kImmediate && initState_ != 3 ? &state_ : nullptr;
    }
    void buttonPressed(unsigned code) override;

private:
    bool isReady() const;
    void stepSequence(float dt);
    void advanceSlide(float dt);
    bool goalNew(int bit) const { return (goalFlags_ >> 8) & (1 << bit); }
    bool goalShown(int bit) const { return (goalFlags_ | (goalFlags_ >> 8)) & (1 << bit); }
    void playIfAnimated(Sound& sound);

    Graphics::Context* graphics_;
    Fonts::Context* fonts_;
    std::vector<Sound> starSounds_, lineSounds_, swooshSounds_;
    boost::optional<Sound> fanfare_;
    boost::optional<Sound> runSound_;
    PopInSprite background_;
    GameMode mode_;
    uint32_t state_ = 0;
    uint32_t initState_ = 0;
    Fonts::TextMesh labelsMesh_;
    Fonts::TextMesh continueMesh_;
    AnimatedButton continue_;
    std::vector<UVSlideLabel> rows_;
    std::vector<PopInBurstSprite> stars_;
    PopInLabel laps_;
    PopInLabel run_;
    SlideTransition slide_;
    float slideProgress_ = 0.0f;
    uint32_t slideState_ = 0;  // 0 idle, 1 running, 2 done
    float timer_ = 0.0f;
    std::function<void()> finished_ = [] {};
    uint16_t goalFlags_ = 0;
    TextLabel target_;
    boost::optional<Sprite> overlay_;
    CloudSyncThread* cloudSync_;
    Button mainMenu_;
    Button retry_;
    TextLabel retryCaption_;
    TextLabel mainMenuCaption_;
    bool signedIn_;
    AnimatedButton leaderboard_;
    boost::optional<FocusNavigator> focus_;
    Audio::Context* audio_;
    uint64_t levelIndex_ = 0;
};
