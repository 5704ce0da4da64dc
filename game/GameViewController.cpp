#include "game/GameViewController.h"

#include <GLES2/gl2.h>

#include <cmath>
#include <utility>

#include "fonts/Context.h"
#include "game/CollectTimeGameModeStateMachine.h"
#include "game/DummyControlScheme.h"
#include "game/HardcoreGameModeStateMachine.h"
#include "game/IntroGameModeStateMachine.h"
#include "game/NormalGameModeStateMachine.h"
#include "game/ScoreValues.h"
#include "game/TimeAttackGameModeStateMachine.h"
#include "graphics/GraphicsLog.h"
#include "graphics/PostProcessingStep.h"
#include "level/LevelCatalog.h"
#include "os/services/GameCenter.h"
#include "os/services/PlatformServices.h"
#include "os/services/ShellServices.h"
#include "save/RoamingDataFile.h"

namespace {

constexpr uint32_t controlLayerController = 20000010;
constexpr uint32_t controlLayerTouchAndSwipe = 20000011;
constexpr uint32_t controlLayerTouchOrPlatform = 20000012;
constexpr uint32_t controlLayerNotTouchAndSwipe = 20000013;
constexpr uint32_t controlLayerPlatform = 20000025;
constexpr uint32_t controlLayerNotPlatform = 20000026;
constexpr int32_t hardcoreLeaderboard = 1338;
constexpr uint64_t hardcoreAchievement = 37;

void checkGraphicsError(Graphics::Context* graphics) {
    if (graphics == nullptr) return;
    GLenum const error = glGetError();
    if (error != GL_NO_ERROR) Graphics::logLine("game screen: GL error " + std::to_string(error));
}

bool showsPauseButton() { return !isControllerPresent() && !hasPlatformInput() && hasTouchScreen(); }

GameMode modeFor(PristineLevel::Data const& level, bool hardcore) {
    return hardcore ? GameMode::Hardcore : level.metaData.mode;
}

std::unique_ptr<GameModeStateMachine> makeModeMachine(GameMode mode, Graphics::Context* graphics, Audio::Context* audio,
                                                      Fonts::Context* fonts, ShowConfirmationBoxCallback const& popup,
                                                      EventHandler* events, bool restarted,
                                                      StartLevelCallback const& startLevel, std::string const& path,
                                                      HUD& hud, PristineLevel::MetaData const& metaData,
                                                      bool skipTutorial, TransitToMainMenuCallback const& mainMenu) {
    if (mode == GameMode::Hardcore) return std::make_unique<HardcoreGameModeStateMachine>();
    // A restart skips the bonus modes' tutorial popup.
    if (mode == GameMode::TimeAttack)
        return std::make_unique<TimeAttackGameModeStateMachine>(graphics, audio, fonts, popup, events, !restarted);
    if (mode == GameMode::CollectTime)
        return std::make_unique<CollectTimeGameModeStateMachine>(graphics, audio, fonts, popup, events, !restarted);
    if (mode == GameMode::Intro)
        return std::make_unique<IntroGameModeStateMachine>(graphics, audio, fonts, events, startLevel, path, hud,
                                                           metaData, skipTutorial, mainMenu);
    return std::make_unique<NormalGameModeStateMachine>();
}

}  // namespace


GameViewController::GameViewController(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                                       EventHandler* events, std::string const& path, std::string const& name,
                                       PostProcessingStep* postProcessing,
                                       TransitToEndOfLevelCallback const& endOfLevel,
                                       TriggerPauseMenuCallback const& pauseMenu,
                                       ShowConfirmationBoxCallback const& showConfirmationBox, bool restarted,
                                       StartLevelCallback const& startLevel, PristineLevel::Data&& level,
                                       bool skipTutorial, TransitToMainMenuCallback const& mainMenu, bool hardcore)
    : graphics_(graphics),
      events_(events),
      hud_(graphics, fonts, showsPauseButton()),
      startLevel_(startLevel),
      mode_(modeFor(level, hardcore)),
      modeMachine_(makeModeMachine(mode_, graphics, audio, fonts, showConfirmationBox, events, restarted, startLevel,
                                   path, hud_, level.metaData, skipTutorial, mainMenu)),
      catalogIndex_(LevelCatalog::findByPath(path)),
      world_(graphics, audio, events, std::move(level), postProcessing, mode_, worldEndOfLevelCallback(), catalogIndex_),
      controlSchemeChoice_(savedControlSchemeChoice()),
      controlScheme_(makeControlScheme(controlSchemeChoice_, graphics)),
      pauseButtonRect_(hud_.pauseButtonCentre(), glm::vec2(128.0f, 128.0f)),
      audio_(audio),
      postProcessing_(postProcessing),
      path_(path),
      name_(name),
      endOfLevel_(endOfLevel),
      pauseRequest_([this, pauseMenu, path, name] { requestPause(pauseMenu, path, name); }),
      mainMenu_(mainMenu),
      showBox_(showConfirmationBox),
      fonts_(fonts) {
    if (!skipTutorial && world_.hasTutorial() && hasTouchScreen()) {
        tutorial_.emplace(graphics, audio, fonts, events, showConfirmationBox);
        TutorialOverlay& t = *tutorial_;
        slots_.emplace_back(events_, TutorialOverlay::signalJumpLessonOn, [&t] { t.setJumpLessonReady(true); });
        slots_.emplace_back(events_, TutorialOverlay::signalJumpLessonOff, [&t] { t.setJumpLessonReady(false); });
        slots_.emplace_back(events_, TutorialOverlay::signalDiveLessonOn, [&t] { t.setDiveLessonReady(true); });
        slots_.emplace_back(events_, TutorialOverlay::signalDiveLessonOff, [&t] { t.setDiveLessonReady(false); });
        slots_.emplace_back(events_, TutorialOverlay::signalBridgeHintOn, [&t] { t.setBridgeHintVisible(true); });
        slots_.emplace_back(events_, TutorialOverlay::signalBridgeHintOff, [&t] { t.setBridgeHintVisible(false); });
        slots_.emplace_back(events_, TutorialOverlay::signalCancelButtonsHint, [&t] { t.cancelButtonsHint(); });
    }
    slots_.emplace_back(events_, levelEndSignal, [this] { onLevelEnd(); });
    // Raised as the loader hands this screen over: a box now wraps this screen, not the loader.
    // The box is built before showBox_ returns, so its texts may be locals.
    slots_.emplace_back(events_, levelStartSignal, [this] {
        std::string const message = std::exchange(loadFailure_, std::string());
        if (message.empty() || !showBox_) return;
        static glm::vec2 const centre(0.0f, 0.0f);
        std::string const ok = fonts_ ? fonts_->localizedString("popupAffirmative") : std::string("OK");
        showBox_(ConfirmationBox::Parameters{centre, message, ok, boost::none, [this] { leaveForMenu_ = true; },
                                             [] {}, true});
    });
    slots_.emplace_back(events_, holdSignal, [this] { hold(true); });
    slots_.emplace_back(events_, resumeSignal, [this] { hold(false); });
    slots_.emplace_back(events_, optionsClosedSignal, [this] { reapplyControlScheme(); });
    checkGraphicsError(graphics_);
    slots_.emplace_back(events_, controllerConnectedSignal, [this] {
        reapplyControlScheme();
        hud_.hidePauseButton();
    });
    slots_.emplace_back(events_, controllerDisconnectedSignal, [this] {
        reapplyControlScheme();
        if (!hasPlatformInput()) hud_.showPauseButton();
    });
    slots_.emplace_back(events_, hidePauseSignal, [this] {
        reapplyControlScheme();
        hud_.hidePauseButton();
    });
    slots_.emplace_back(events_, showPauseSignal, [this] {
        reapplyControlScheme();
        if (!isControllerPresent()) hud_.showPauseButton();
    });
    slots_.emplace_back(events_, TutorialOverlay::signalStart, [this] {
        if (tutorial_) tutorial_->activate(world_.getPlayer(), world_.getCamera());
    });
    slots_.emplace_back(events_, TutorialOverlay::signalFinish, [this] {
        if (tutorial_) tutorial_->finish(world_.getPlayer(), world_.getCamera());
    });
    checkGraphicsError(graphics_);
    publishControlLayers();
    // Entering the first catalog level in hardcore starts a new run.
    if (catalogIndex_ && *catalogIndex_ == 0 && mode_ == GameMode::Hardcore) {
        HardcoreGameModeStateMachine::resetRunTime();
    }
}

GameViewController::~GameViewController() = default;

uint8_t GameViewController::savedControlSchemeChoice() {
    if (isControllerPresent() || hasPlatformInput()) return 0;
    RoamingDataFile file("roamingData");
    return file.data.controlScheme();
}


void GameViewController::publishControlLayers() {
    if (isControllerPresent()) {
        events_->trigger(controlLayerController);
        events_->trigger(controlLayerNotTouchAndSwipe);
        events_->trigger(controlLayerNotPlatform);
    } else if (hasPlatformInput()) {
        events_->trigger(controlLayerPlatform);
        events_->trigger(controlLayerNotTouchAndSwipe);
        events_->trigger(controlLayerTouchOrPlatform);
    } else if (controlSchemeChoice_ == 0) {
        events_->trigger(controlLayerTouchOrPlatform);
        events_->trigger(controlLayerNotPlatform);
        events_->trigger(controlLayerTouchAndSwipe);
    } else {
        events_->trigger(controlLayerTouchOrPlatform);
        events_->trigger(controlLayerNotTouchAndSwipe);
        events_->trigger(controlLayerNotPlatform);
    }
}

void GameViewController::reapplyControlScheme() {
    uint8_t const choice = savedControlSchemeChoice();
    if (choice != controlSchemeChoice_) {
        controlSchemeChoice_ = choice;
        // The old scheme keeps working until the controls have faded out.
        pendingControlScheme_ = makeControlScheme(choice, graphics_);
        hud_.fadeOut();
    }
    publishControlLayers();
}

void GameViewController::disablePauseButton() {
    pauseRequest_ = [] {};
}

void GameViewController::hold(bool on) {
    paused_ = on;
    modeMachine_->setPaused(on);
}

void GameViewController::pause() {
    if (levelEnded_ || events_->isQueued(levelEndSignal) || !modeMachine_->allowsPause()) return;
    pauseRequest_();
}

void GameViewController::requestPause(TriggerPauseMenuCallback const& pauseMenu, std::string const& path,
                                      std::string const& name) {
    // No pause during the respawn sequence.
    if (!world_.getPlayer().isAlive()) return;
    controlScheme_->reset();
    pauseMenu(path, name);
}

bool GameViewController::drawingCaptured() const {
    return paused_ && postProcessing_ != nullptr && postProcessing_->hasCapture();
}

void GameViewController::updateGame(Audio::Context& audio, float dt, float now) {
    modeMachine_->update(*this, dt, world_.getTime());
    if (paused_) {
        pausedTime_ += dt;
        world_.updateCamera(graphics_, audio, &hud_, dt);
        return;
    }
    ControlScheme::InputState const input =
        controllerInput_ && !controllerInput_->isEmpty() ? *controllerInput_ : controlScheme_->inputState();
    // The world's clock leaves out the time play was held.
    world_.update(graphics_, audio, &hud_, &input, dt, now - pausedTime_);
    controllerInput_.reset();
}

void GameViewController::showLoadFailure(std::string const& what) { loadFailure_ = what; }

void GameViewController::update(Audio::Context& audio, float dt, float now) {
    if (leaveForMenu_ && mainMenu_) {
        leaveForMenu_ = false;
        // The last act: the main menu's loader takes this screen's place.
        TransitToMainMenuCallback const mainMenu = mainMenu_;
        mainMenu(boost::none);
        return;
    }
    checkGraphicsError(graphics_);
    updateGame(audio, dt, now);
    if (drawingCaptured()) {
        checkGraphicsError(graphics_);
        return;
    }
    if (postProcessing_ != nullptr && !postProcessing_->isCaptureRequested() && !postProcessing_->hasCapture()) {
        postProcessing_->allowReducedResolution();
    }
    hud_.update(dt);
    if (pendingControlScheme_ && hud_.isFadedOut()) {
        controlScheme_ = std::move(pendingControlScheme_);
        hud_.fadeIn();
    }
    controlScheme_->update(dt);
    if (tutorial_) tutorial_->update(world_.getPlayer(), world_.getCamera(), *controlScheme_, dt);
    checkGraphicsError(graphics_);
}

void GameViewController::preDraw(Graphics::Context* graphics) {
    if (drawingCaptured()) return;
    world_.draw(graphics);
    modeMachine_->preDraw(*this);
}

void GameViewController::draw(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (drawingCaptured()) return;
    world_.drawList().drawEffectLayers(graphics, shader);
}

void GameViewController::drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (drawingCaptured()) return;
    world_.drawList().draw(graphics, shader);
    // An ended level's picture is kept behind its results: its HUD would show through the board.
    if (levelEnded_) return;
    hud_.draw(graphics, shader, controlScheme_.get());
    modeMachine_->drawOverlay(graphics, shader, hud_.matrix());
    if (tutorial_) tutorial_->draw(graphics, shader);
}

void GameViewController::touchBegan(glm::vec2 const& p, uint32_t touch) {
    if (pauseButtonRect_.contains(p)) pauseButtonPressed_ = true;
    controlScheme_->touchBegan(p, touch);
    if (tutorial_) tutorial_->touchBegan(p, touch);
    modeMachine_->touchBegan(p, touch);
}

void GameViewController::touchMoved(glm::vec2 const& p, uint32_t touch) {
    if (pauseButtonPressed_ && !pauseButtonRect_.contains(p)) pauseButtonPressed_ = false;
    controlScheme_->touchMoved(p, touch);
    if (tutorial_) tutorial_->touchMoved(p, touch);
    modeMachine_->touchMoved(p, touch);
}

void GameViewController::touchEnded(glm::vec2 const& p, uint32_t touch) {
    controlScheme_->touchEnded(p, touch);
    if (pauseButtonPressed_ && pauseButtonRect_.contains(p)) {
        pauseButtonPressed_ = false;
        pause();
    }
    if (tutorial_) tutorial_->touchEnded(p, touch);
    modeMachine_->touchEnded(p, touch);
}

void GameViewController::buttonPressed(uint32_t code) {
    if (code == menuButtonCode || code == pauseButtonCode) {
        if (!modeMachine_->buttonPressed(code)) pause();
    } else if (code == diveReleaseCode) {
        controlScheme_->inputState().dive = 0;
    }
}

void GameViewController::windowFocusLost() { pause(); }

ControlScheme::InputState GameViewController::controllerInput(GamepadState const& state) {
    ControlScheme::InputState input(0, 0, 0, 0, 0.0f);
    float direction = 0.0f;
    if (state.leftX != 0.0f) {
        // Not clamped: a diagonal stick moves up to about 1.41.
        input.moveAmount = std::sqrt(state.leftX * state.leftX + state.leftY * state.leftY);
        direction = state.leftX;
    } else if (state.dpadX != 0.0f) {
        input.moveAmount = 1.0f;
        direction = state.dpadX;
    }
    if (direction > 0.0f) input.right = 1;
    if (direction < 0.0f) input.left = 1;
    if (state.buttonB != 0 || state.buttonX != 0) {
        input.dive = 1;
    } else if (state.buttonA != 0 || state.buttonY != 0) {
        input.jump = 1;
    } else if (state.rightY > 0.0f) {
        input.jump = 1;
    } else if (state.rightY < 0.0f) {
        input.dive = 1;
    }
    return input;
}

void GameViewController::gamepadInput(GamepadState const& state) {
    controllerInput_ = controllerInput(state);
    modeMachine_->gamepadInput(state);
}

TransitToEndOfLevelCallback GameViewController::worldEndOfLevelCallback() {
    return [this](TriggerVariant const& result, std::string const& path, std::string const& name) {
        if (levelEnded_) return;
        levelEnded_ = true;
        endOfLevel_(result, path, name);
    };
}

void GameViewController::onLevelEnd() {
    // Every copy of the end signal reaches this slot (two goal contacts, a goal and a mode's own
    // end); only the first ends the level. A hardcore death that ended the run closed it already.
    if (levelEnded_) return;
    levelEnded_ = true;

    Player::Player const& player = world_.getPlayer();
    // A level outside the catalog reports the index past the last one.
    uint64_t const index = catalogIndex_ ? uint64_t(*catalogIndex_) : LevelCatalog::count();
    switch (mode_) {
        case GameMode::TimeAttack:
            endOfLevel_(TriggerVariant(ResultsMenu::TimeAttackGameModeTriggerParameters(float(player.getLapCount()) + player.getLapFraction(), index)), path_,
                        name_);
            return;
        case GameMode::CollectTime: {
            auto const* collect = dynamic_cast<CollectTimeGameModeStateMachine const*>(modeMachine_.get());
            float const remaining = collect != nullptr ? collect->remainingTime() : 0.0f;
            endOfLevel_(TriggerVariant(ResultsMenu::CollectTimeGameModeTriggerParameters(
                            player.getCoinCount(), world_.getCoinCount(), remaining, index)),
                        path_, name_);
            return;
        }
        case GameMode::Hardcore:
            break;
        default:
            endOfLevel_(TriggerVariant(ResultsMenu::NormalGameModeTriggerParameters(
                            player.getCoinCount(), world_.getCoinCount(), player.getDeathCount(), world_.getTime(), index)),
                        path_, name_);
            return;
    }

    HardcoreGameModeStateMachine::addRunTime(world_.getTime());
    uint64_t const count = LevelCatalog::count();
    // The next normal level; bonus levels are skipped.
    uint64_t next = index + 1;
    while (next < count && LevelCatalog::entry(next).mode != GameMode::Normal) ++next;
    // The last level, a level outside the catalog, or no normal level left: the run is over.
    if (!catalogIndex_ || index + 1 >= count || next >= count) {
        endOfLevel_(TriggerVariant(ResultsMenu::HardcoreGameModeTriggerParameters(HardcoreGameModeStateMachine::runTime())),
                    path_, name_);
        return;
    }
    int64_t const value = scoreToLeaderboardValue(HardcoreGameModeStateMachine::runTime(), GameMode::Hardcore);
    significantEvent(true);
    LevelCatalog::Entry const& entry = LevelCatalog::entry(index);
    int scheme = 0;
    {
        RoamingDataFile file("roamingData");
        if (isControllerPresent()) {
            scheme = 2;
        } else if (hasPlatformInput()) {
            scheme = 3;
        } else if (file.data.controlScheme() == 1) {
            scheme = 1;
        }
    }
    logLevelPlayed(entry.nameKey.c_str(), scheme, true, 0, value);
    uint64_t const done = uint64_t(LevelCatalog::indexInMode(int32_t(index), GameMode::Normal) + 1);
    ScoreReport const score{uint32_t(hardcoreLeaderboard), int64_t(done)};
    reportScores(&score, 1);
    AchievementReport const achievement{hardcoreAchievement,
                                        double(done) * 100.0 / double(LevelCatalog::countOfMode(GameMode::Normal))};
    reportAchievements(&achievement, 1);
    LevelCatalog::Entry const& following = LevelCatalog::entry(next);
    // Copies: starting the next level destroys this screen.
    std::string const nextPath = following.path;
    std::string const nextName = following.nameKey;
    StartLevelCallback const startLevel = startLevel_;
    startLevel(nextPath, nextName, false, true, true);
}
