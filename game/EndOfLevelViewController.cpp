#include "game/EndOfLevelViewController.h"

#include <algorithm>
#include <cfloat>

#include "audio/Context.h"
#include "graphics/Context.h"
#include "graphics/PostProcessingStep.h"
#include "graphics/ScreenAnchor.h"
#include "level/LevelCatalog.h"
#include "os/services/GameCenter.h"
#include "os/services/ShellServices.h"
#include "save/CloudSyncThread.h"

namespace {

constexpr float kMusicFadeRate = 0.001f;
constexpr float kBackdropRate = 0.001f;

// Hardcore keeps its own board; otherwise the catalog says (a level outside it is normal).
GameMode resultsMode(std::string const& path, bool hardcore) {
    if (hardcore) return GameMode::Hardcore;
    boost::optional<size_t> const i = LevelCatalog::findByPath(path);
    return i ? LevelCatalog::entry(*i).mode : GameMode::Normal;
}

}  // namespace

size_t EndOfLevelViewController::nextNormalLevel(std::string const& path) {
    size_t const count = LevelCatalog::count();
    size_t const last = count > 0 ? count - 1 : 0;
    boost::optional<size_t> const i = LevelCatalog::findByPath(path);
    if (!i) return last;
    for (size_t j = *i + 1; j < count; ++j)
        if (LevelCatalog::entry(j).mode == GameMode::Normal) return j;
    return last;
}

EndOfLevelViewController::EndOfLevelViewController(
    Graphics::Context* graphics, Audio::Context* audio, std::unique_ptr<ViewController>&& game,
    PostProcessingStep* postProcessing, Fonts::Context* fonts, ReturnToMainMenuCallback const& returnToMainMenu,
    StartLevelCallback const& startLevel, TriggerVariant const& result, std::string const& levelPath,
    std::string const& levelName, bool skipTutorial, CloudSyncThread* cloudSync, bool hardcore)
    : graphics_(graphics),
      audio_(audio),
      postProcessing_(postProcessing),
      fonts_(fonts),
      levelPath_(levelPath),
      mainMenuAction_([this, returnToMainMenu] {
          leave([returnToMainMenu] { returnToMainMenu(); });
          return true;
      }),
      startLevelAction_([this, startLevel](std::string const& path, std::string const& name, bool restart,
                                           bool skip, bool hard) {
          leave([startLevel, path, name, restart, skip, hard] { startLevel(path, name, restart, skip, hard); });
      }),
      retryAction_([this, levelName, skipTutorial, hardcore] {
          // A hardcore run starts over from the first level.
          if (hardcore && LevelCatalog::count() > 0) {
              LevelCatalog::Entry const& first = LevelCatalog::entry(0);
              startLevelAction_(first.path, first.nameKey, true, true, true);
          } else {
              startLevelAction_(levelPath_, levelName, true, skipTutorial, false);
          }
          return true;
      }),
      result_(result),
      mode_(resultsMode(levelPath, hardcore)),
      projection_(screenProjection()),
      savedMusicVolume_(audio->musicVolume()),
      musicFade_{savedMusicVolume_, 0.0f, kMusicFadeRate, savedMusicVolume_, 0.0f, 0},
      cloudSync_(cloudSync),
      hardcore_(hardcore) {
    buildResults();
    if (downloadState() != 4) overlay_.emplace(graphics, audio, fonts, false, [] {});
    game_ = std::move(game);
}

EndOfLevelViewController::~EndOfLevelViewController() = default;

void EndOfLevelViewController::buildResults() {
    activeMenu_ = nullptr;
    results_.reset();
    results_.emplace(graphics_, audio_, fonts_, mode_, cloudSync_, levelPath_, mainMenuAction_, retryAction_, result_);
    activeMenu_ = &*results_;
}

// Every way out freezes the picture once more and shows it at once, ungreyed, while the next
// screen builds; the chosen callback runs in state 5.
void EndOfLevelViewController::leave(std::function<void()> action) {
    if (state_ >= 4) return;
    currentMenu_ = kLeaving;
    requestedMenu_ = kLeaving;
    state_ = 4;
    pendingAction_ = std::move(action);
}

void EndOfLevelViewController::updateStateTransitions() {
    if (requestedMenu_ == currentMenu_) return;
    switch (requestedMenu_) {
    case kResults:
        buildResults();
        // Shown again without recording: the result was kept on the first showing.
        results_->trigger(result_, [this] { requestedMenu_ = kLevelSelect; }, ResultsMenu::kImmediate);
        levelSelect_.reset();
        break;
    case kLevelSelect: {
        size_t const count = LevelCatalog::count();
        boost::optional<size_t> const i = LevelCatalog::findByPath(levelPath_);
        currentMenu_ = requestedMenu_;
        if (count > 0 && i && *i == count - 1) {
            startLevelAction_("levels/end.pxl", std::string(), false, true, false);
            return;
        }
        if (hardcore_) {
            mainMenuAction_();
            return;
        }
        activeMenu_ = nullptr;
        levelSelect_.reset();
        levelSelect_.emplace(graphics_, audio_, fonts_, [this] { backToResults(); }, startLevelAction_,
                             boost::optional<unsigned long>(nextNormalLevel(levelPath_)));
        levelSelect_->open();
        results_.reset();
        activeMenu_ = &*levelSelect_;
        break;
    }
    default:
        break;
    }
    currentMenu_ = requestedMenu_;
}

void EndOfLevelViewController::update(Audio::Context&, float dt, float) {
    switch (state_) {
    case 0:
        // A picture the level kept (the time attack's photo finish) holds its HUD: take a new one,
        // which the ended level draws without it.
        postProcessing_->releaseCapture();
        postProcessing_->requestCapture();
        state_ = 1;
        break;
    case 1:
        if (postProcessing_->hasCapture()) {
            game_.reset();
            musicFade_.progress = 0.0f;
            musicFade_.state = 1;
            postProcessing_->setMonochromeAmount(1.0f);
            postProcessing_->startBackdropFadeIn();
            postProcessing_->fadeBackdropColor(glm::vec3(1.0f), glm::vec3(0.5f), kBackdropRate);
            results_->trigger(result_, [this] { requestedMenu_ = kLevelSelect; }, ResultsMenu::kAnimated);
            state_ = 2;
        }
        break;
    case 2:
        updateStateTransitions();
        if (state_ == 2 && !postProcessing_->isBackdropColorFading() && (!results_ || results_->isFinished())) {
            state_ = 3;
            if (overlay_) {
                overlay_->show();
                overlay_->setEnabled(true);
            }
        }
        break;
    case 3:
        presentGameCenterLogin();
        if (requestedMenu_ != currentMenu_)
            updateStateTransitions();
        else if (currentMenu_ != kResults && cloudSync_)
            cloudSync_->resume();
        break;
    case 4:
        postProcessing_->requestCapture();
        state_ = 5;
        break;
    case 5: {
        postProcessing_->setBackdropFadeSpeed(kBackdropRate);
        postProcessing_->resetBackdropFade();
        postProcessing_->fadeBackdropColor(glm::vec3(1.0f), glm::vec3(1.0f), FLT_MAX);
        state_ = 6;
        // The app frame replaces this screen inside the call: run a local copy and touch
        // nothing of the screen afterwards.
        std::function<void()> const action = std::move(pendingAction_);
        pendingAction_ = nullptr;
        if (action) action();
        return;
    }
    default:
        updateStateTransitions();
        break;
    }
    if (activeMenu_ && graphics_->texturesLoaded()) activeMenu_->update(dt);
    if (musicFade_.state == 1) {
        if (musicFade_.progress >= 1.0f) musicFade_.state = 2;
        musicFade_.progress = std::clamp(musicFade_.progress + musicFade_.rate * dt, 0.0f, 1.0f);
    }
    musicFade_.current = musicFade_.progress * musicFade_.to + (1.0f - musicFade_.progress) * musicFade_.from;
    audio_->setMusicVolume(musicFade_.current);
    if (overlay_) overlay_->update(true, dt);
}

void EndOfLevelViewController::draw(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (game_ && !postProcessing_->hasCapture()) game_->draw(graphics, shader);
}

void EndOfLevelViewController::drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (state_ == 6) return;
    if (game_ && !postProcessing_->hasCapture()) game_->drawOverlay(graphics, shader);
    if (activeMenu_) activeMenu_->draw(graphics, shader, projection_);
    if (overlay_) overlay_->draw(graphics, shader);
}

void EndOfLevelViewController::preDraw(Graphics::Context* graphics) {
    if (game_ && !postProcessing_->hasCapture()) game_->preDraw(graphics);
    if (activeMenu_) activeMenu_->preDraw();
    if (overlay_) overlay_->preDraw();
}

template <class Input>
void EndOfLevelViewController::route(Input&& input) {
    if (overlay_ && overlay_->isBlockingInput())
        input(*overlay_);
    else if (activeMenu_)
        input(*activeMenu_);
}

void EndOfLevelViewController::touchMoved(glm::vec2 const& point, uint32_t touch) {
    route([&](auto& to) { to.touchMoved(point, touch); });
}
void EndOfLevelViewController::touchBegan(glm::vec2 const& point, uint32_t touch) {
    route([&](auto& to) { to.touchBegan(point, touch); });
}
void EndOfLevelViewController::touchEnded(glm::vec2 const& point, uint32_t touch) {
    route([&](auto& to) { to.touchEnded(point, touch); });
}
void const* EndOfLevelViewController::inputTaker() const {
    if (overlay_ && overlay_->isBlockingInput()) return overlay_->inputTaker();
    return activeMenu_ ? activeMenu_->inputTaker() : this;
}
void EndOfLevelViewController::gamepadInput(GamepadState const& state) {
    route([&](auto& to) { to.gamepadInput(state); });
}
void EndOfLevelViewController::buttonPressed(uint32_t code) {
    route([&](auto& to) { to.buttonPressed(code); });
}
void EndOfLevelViewController::scrollPageBack() {
    if (activeMenu_) activeMenu_->scrollPageBack();
}
void EndOfLevelViewController::scrollPageForward() {
    if (activeMenu_) activeMenu_->scrollPageForward();
}
