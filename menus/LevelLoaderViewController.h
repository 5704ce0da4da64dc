#pragma once
// The screen between the previous screen and a level's game screen: captures and dims the
// picture, slides in the loading card, reads the level, builds the game screen, waits for its
// textures, fades through black and hands the game screen to the app frame. Ignores input.
//
// GameScreen is the game screen type (the real one lives above this library), built with
// (graphics, audio, fonts, events, path, name, post-processing, end of level, pause, question,
// restart, start level, level data, skip tutorial, main menu, hardcore); a level that could not
// be read whole is handed on with showLoadFailure(what failed).
#include <boost/optional.hpp>

#include <cfloat>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "audio/Context.h"
#include "graphics/Context.h"
#include "graphics/PostProcessingStep.h"
#include "level/PristineLevel.h"
#include "menus/ConfirmationBox.h"
#include "menus/LevelLoadingScreen.h"
#include "menus/TriggerVariant.h"
#include "os/AbstractAppCallbacks.h"
#include "os/EventHandler.h"

namespace LevelLoading {

inline constexpr uint32_t kLevelStartSignal = 20000001;

// The file a level is read from: its localized variant ("levels/level01_ja_JP.pxl") when that
// exists, else the path itself when it exists, else empty. A path without '.' has no variant.
std::string chooseLevelFile(std::string const& path, char const* locale);
// Reads the chosen file into level; a missing or unreadable file leaves it empty, a damaged one
// partial, each with a log line. Returns what failed, as the window says it; empty when the
// level was read whole.
std::string readLevel(std::string const& path, PristineLevel::Data& level);
// Whether the loader shows its card: catalog levels only, and never on a restart.
bool wantsLoadingScreen(std::string const& path, bool restart);

}  // namespace LevelLoading

template <class GameScreen>
class LevelLoaderViewController : public ViewController {
public:
    LevelLoaderViewController(Graphics::Context* graphics, Audio::Context* audio,
                              std::unique_ptr<ViewController>&& previous, PostProcessingStep* postProcessing,
                              Fonts::Context* fonts, EventHandler* events,
                              TransitToEndOfLevelCallback const& endOfLevel, std::string const& path,
                              std::string const& name, InstallViewControllerCallback const& install,
                              TriggerPauseMenuCallback const& pause, ShowConfirmationBoxCallback const& question,
                              bool restart, StartLevelCallback const& startLevel, bool skipTutorial,
                              TransitToMainMenuCallback const& mainMenu, bool hardcore)
        : restart_(restart),
          name_(name),
          path_(path),
          fonts_(fonts),
          graphics_(graphics),
          events_(events),
          postProcessing_(postProcessing),
          install_(install),
          endOfLevel_(endOfLevel),
          pause_(pause),
          question_(question),
          startLevel_(startLevel),
          skipTutorial_(skipTutorial),
          mainMenu_(mainMenu),
          hardcore_(hardcore) {
        if (LevelLoading::wantsLoadingScreen(path_, restart_)) card_.emplace(graphics, audio, fonts, name_);
        // Taken last: if anything above throws, the caller still has its screen.
        held_ = std::move(previous);
    }

    void update(Audio::Context& audio, float dt, float now) override {
        switch (state_) {
        case 0:
            postProcessing_->requestCapture();
            graphics_->setBurstLoading(true);
            state_ = 1;
            break;
        case 1:
            if (postProcessing_->hasCapture() && graphics_->texturesLoaded()) buildLevel(audio, now);
            break;
        case 2:
            if (!postProcessing_->isBackdropColorFading() && postProcessing_->checkBackdropFadeIn() &&
                (!card_ || card_->isShown())) {
                graphics_->setBurstLoading(true);
                state_ = 3;
                if (card_) card_->playSound();
                audio.setMusicVolume(0.0f);
            }
            if (card_) card_->update(dt);
            break;
        case 3:
            if (graphics_->texturesLoaded()) {
                state_ = 4;
                graphics_->setBurstLoading(false);
                postProcessing_->fadeColor(glm::vec3(1.0f), glm::vec3(0.0f), 0.002f);
            }
            if (card_) card_->update(dt);
            break;
        case 4:
            if (!postProcessing_->isColorFading()) {
                postProcessing_->fadeBackdropColor(glm::vec3(1.0f), glm::vec3(1.0f), FLT_MAX);
                postProcessing_->resetBackdropFade();
                postProcessing_->releaseCapture();
                state_ = 5;
            }
            if (card_) card_->update(dt);
            break;
        default:
            if (!postProcessing_->isColorFading()) {
                events_->trigger(LevelLoading::kLevelStartSignal);
                audio.setCategoryFadeRate(0, 0.001f);
                postProcessing_->fadeColor(glm::vec3(0.0f), glm::vec3(1.0f), 0.001f);
                // Deletes this loader with its card and loop sound: the last thing done here.
                install_(std::move(held_));
                return;
            }
            break;
        }
    }

    void preDraw(Graphics::Context* graphics) override {
        if (card_) card_->preDraw();
        if (held_) held_->preDraw(graphics);
    }

    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) override {
        if (state_ < 2) {
            if (held_) held_->drawOverlay(graphics, shader);
        } else if (card_) {
            card_->draw(graphics, shader);
        }
    }

    void touchMoved(glm::vec2 const&, uint32_t) override {}
    void touchBegan(glm::vec2 const&, uint32_t) override {}
    void touchEnded(glm::vec2 const&, uint32_t) override {}
    void buttonPressed(uint32_t) override {}
    void const* inputTaker() const override { return levelTaker(); }

    uint32_t state() const { return state_; }
    ViewController* heldScreen() const { return held_.get(); }
    LevelLoadingScreen const* loadingScreen() const { return card_ ? &*card_ : nullptr; }

private:
    void buildLevel(Audio::Context& audio, float now) {
        graphics_->setBurstLoading(false);
        std::unique_ptr<ViewController> previous = std::move(held_);
        // A restart keeps the old screen until the new one exists.
        if (!restart_) previous.reset();
        {
            PristineLevel::Data level;
            std::string const failure = LevelLoading::readLevel(path_, level);
            auto game = std::make_unique<GameScreen>(graphics_, &audio, fonts_, events_, path_, name_, postProcessing_,
                                                     endOfLevel_, pause_, question_, restart_, startLevel_,
                                                     std::move(level), skipTutorial_, mainMenu_, hardcore_);
            if (!failure.empty()) game->showLoadFailure(failure);
            held_ = std::move(game);
        }
        held_->update(audio, 0.0f, now);
        postProcessing_->startBackdropFadeIn();
        postProcessing_->fadeBackdropColor(glm::vec3(1.0f), glm::vec3(0.5f), 0.001f);
        postProcessing_->fadeColor(glm::vec3(1.0f), glm::vec3(1.0f), FLT_MAX);
        if (card_) card_->show();
        state_ = 2;
        previous.reset();
    }

    bool restart_;
    std::string name_;
    std::string path_;
    Fonts::Context* fonts_;
    Graphics::Context* graphics_;
    EventHandler* events_;
    std::unique_ptr<ViewController> held_;
    PostProcessingStep* postProcessing_;
    uint32_t state_ = 0;
    InstallViewControllerCallback install_;
    TransitToEndOfLevelCallback endOfLevel_;
    TriggerPauseMenuCallback pause_;
    ShowConfirmationBoxCallback question_;
    StartLevelCallback startLevel_;
    bool skipTutorial_;
    TransitToMainMenuCallback mainMenu_;
    bool hardcore_;
    boost::optional<LevelLoadingScreen> card_;
};
