#include "game/IntroGameModeStateMachine.h"

#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>
#include <limits>

#include "audio/Context.h"
#include "fonts/Context.h"
#include "fonts/FontRecord.h"
#include "fonts/TextLabel.h"
#include "game/GameViewController.h"
#include "game/HUD.h"
#include "graphics/Context.h"
#include "graphics/DrawRecord.h"
#include "graphics/StandardShader.h"
#include "level/LevelCatalog.h"
#include "os/Assets.h"
#include "os/services/Music.h"
#include "os/services/PlatformServices.h"
#include "os/services/ShellServices.h"
#include "save/RoamingDataFile.h"

namespace {

// Sound effects; menu sounds (category 1) keep playing.
constexpr uint32_t levelSounds = 0;

glm::vec2 skipButtonCentre() { return anchoredPosition(kAnchorTopRight, nullptr) + glm::vec2(-100.0f, -70.0f); }

Button makeSkipButton(Graphics::Context* graphics, Audio::Context* audio, std::function<bool()> action) {
    boost::optional<SoundDescriptor const&> const noClick;
    boost::optional<TextureDescriptor const&> const base(Assets::texCutscenesOverlaySkip);
    glm::vec3 const labelPosition(0.0f);
    Button::Parameters const p{Assets::hitCutscenesOverlaySkip,
                               noClick,
                               base,
                               Assets::texCutscenesOverlaySkipHighlighted,
                               boost::none,
                               boost::none,
                               std::move(action),
                               labelPosition,
                               0,
                               0};
    glm::vec2 const centre = skipButtonCentre();
    return Button(graphics, audio, centre, centre, p);
}

bool subtitlesOption() {
    RoamingDataFile file("roamingData");
    return file.data.subtitlesEnabled();
}

float linePitch(Fonts::Font const& font) {
    return font.font != nullptr ? font.font->lineHeight * font.font->lineSpacing : 0.0f;
}

float safeAreaLift() { return needsSafeAreaInsets() ? 16.0f : 0.0f; }

}  // namespace

IntroGameModeStateMachine::IntroGameModeStateMachine(Graphics::Context* graphics, Audio::Context* audio,
                                                     Fonts::Context* fonts, EventHandler* /*events*/,
                                                     StartLevelCallback const& startLevel,
                                                     std::string const& levelPath, HUD& hud,
                                                     PristineLevel::MetaData const& metaData, bool skipTutorial,
                                                     TransitToMainMenuCallback const& mainMenu)
    : skipTutorial_(skipTutorial),
      skipButton_(makeSkipButton(graphics, audio, [this] { return skip(); })),
      startLevel_(startLevel),
      levelPath_(levelPath),
      hud_(&hud),
      musicPath_(metaData.introSoundtrack + musicExtension()),
      fade_(Graphics::Texture(graphics, Assets::texColorsBlack), kAnchorBottomLeft, glm::vec2(0.0f),
            glm::vec2(virtualWidth(), virtualHeight()), glm::vec2(1.0f)),
      cutsceneLength_(metaData.introEndTime),
      audio_(audio),
      skipVisibility_(isControllerPresent() || hasPlatformInput() ? 0.0f : 1.0f),
      mainMenu_(mainMenu),
      creditsStart_(metaData.introCueTime) {
    if (subtitlesOption()) {
        // A missing or empty file gives no entries, so nothing ever shows.
        subtitles_.emplace(metaData.introSoundtrack + "_" + preferredLocale() + ".srt");
        Graphics::Texture box(graphics, Assets::texCutscenesOverlayTextbackground);
        glm::vec2 const size(box.width(), box.height());
        fullBox_.emplace(Graphics::Texture(box), kAnchorOrigin, glm::vec2(0.0f), size, glm::vec2(1.0f));
        halfBox_.emplace(std::move(box), kAnchorOrigin, glm::vec2(0.0f), glm::vec2(size.x, size.y * 0.5f),
                         glm::vec2(1.0f));
    }
    if (fonts != nullptr) subtitleFont_ = fonts->font(Fonts::FontStyle::subtitles);
    CutsceneServices& services = cutsceneServices();
    if (creditsStart_ > 0.0f && services.makeCredits) {
        bool const lowEnd = isLowEndDevice();
        credits_ = services.makeCredits(graphics, audio, fonts, [this] { state_ = kFading; }, glm::vec4(1.0f),
                                        lowEnd ? 4u : 2u, lowEnd ? 2.0f : 1.0f);
    }
    services.logEvent(("PLAYED_CUTSCENE_WITH_PATH: " + levelPath_).c_str());
}

// A cut-scene left before its fade (another level started over it) lets the level sounds go;
// the next loader fades them in.
IntroGameModeStateMachine::~IntroGameModeStateMachine() {
    if (audio_ != nullptr && state_ != kStart && state_ < kFinished) audio_->holdCategory(levelSounds, false);
}

bool IntroGameModeStateMachine::skip() {
    // Once the fade is complete the next screen is on its way; a late tap must not start it twice.
    if (state_ >= kFinished) return false;
    cutsceneServices().logEvent("SKIPPED_INTRO");
    fadeSpeed_ = skipFadeRate;
    state_ = kFading;
    return false;
}

void IntroGameModeStateMachine::finish() {
    if (finished_) return;
    finished_ = true;
    boost::optional<size_t> const index = LevelCatalog::findByIntroPath(levelPath_);
    if (index) {
        LevelCatalog::Entry const& entry = LevelCatalog::entry(*index);
        // Copies: starting a level hands this screen over.
        std::string const path = entry.path;
        std::string const name = entry.nameKey;
        StartLevelCallback const startLevel = startLevel_;
        startLevel(path, name, false, skipTutorial_, false);
    } else {
        TransitToMainMenuCallback const mainMenu = mainMenu_;
        mainMenu(boost::none);
    }
}

void IntroGameModeStateMachine::layOutSubtitles(std::vector<std::string> const& lines) {
    subtitleAlpha_ = 1.0f;
    subtitleLineCount_ = lines.size();
    float const pitch = linePitch(subtitleFont_);
    float const lift = safeAreaLift();
    float const x = virtualWidth() * 0.5f;
    subtitleOrigins_.clear();
    for (size_t i = 0; i < lines.size(); ++i) {
        float const y = lines.size() == 1 ? 75.0f - 0.5f * pitch + lift : 75.0f - float(i) * pitch + lift;
        subtitleOrigins_.emplace_back(x, y);
        TextLabel(lines[i], glm::vec2(x, y), subtitleFont_, 1, 1.0f)
            .draw(subtitleMesh_, glm::vec2(0.0f), glm::vec4(1.0f), glm::mat4(1.0f));
    }
    subtitleBoxScale_ = subtitleMesh_.bounds().getWidth() / 500.0f;
}

void IntroGameModeStateMachine::update(GameViewController& game, float dt, float t) {
    CutsceneServices& services = cutsceneServices();
    switch (state_) {
        case kStart:
            hud_->setHidden(true);
            game.disablePauseButton();
            game.getWorld().getPlayer().blockInput(std::numeric_limits<float>::infinity());
            state_ = kStartMusic;
            if (audio_ != nullptr) {
                audio_->setCategoryFadeRate(levelSounds, 0.0f);
                audio_->setCategoryVolume(levelSounds, 0.0f);
                // This first update runs inside the loader, which fades the level's sounds in
                // as it installs the screen: the silence must outlast that, up to the fade.
                audio_->holdCategory(levelSounds, true);
            }
            break;
        case kStartMusic:
            if (audio_ != nullptr) {
                audio_->setMusicVolume(1.0f);
                audio_->restartMusicClock();
                audio_->playMusic(musicPath_.c_str(), false, true);
            }
            state_ = kPlaying;
            break;
        case kPlaying: {
            skipAlpha_ = std::clamp(skipAlpha_ + 0.001f * dt, 0.0f, 1.0f);
            float const m = float(services.nowMs() - services.musicStartMs());
            if (subtitles_) {
                subtitleMesh_.clear();
                std::vector<std::string> const* lines = subtitles_->textAt(m);
                if (lines == nullptr || lines->empty()) {
                    subtitleAlpha_ = std::clamp(subtitleAlpha_ - 0.002f * dt, 0.0f, 1.0f);
                } else {
                    layOutSubtitles(*lines);
                }
            }
            if (credits_ && credits_->isIdle() && m > creditsStart_) credits_->start();
            // With credits, only their end leads on to the fade.
            if (m >= cutsceneLength_ - closingLeadMs && !credits_) state_ = kFading;
            services.syncMusic(t > 0.0f ? uint64_t(t) : 0, musicToleranceMs);
            break;
        }
        case kFading:
            if (fadeAmount_ >= 1.0f) {
                state_ = kFinished;
                if (audio_ != nullptr) {
                    audio_->holdCategory(levelSounds, false);
                    audio_->setCategoryVolume(levelSounds, 1.0f);
                }
                finish();
                // The call may have handed the game screen over: nothing of it is touched now.
                return;
            }
            skipAlpha_ = std::clamp(skipAlpha_ - 0.002f * dt, 0.0f, 1.0f);
            fadeAmount_ = std::clamp(fadeAmount_ + fadeSpeed_ * dt, 0.0f, 1.0f);
            subtitleAlpha_ = std::clamp(subtitleAlpha_ - 0.002f * dt, 0.0f, 1.0f);
            if (audio_ != nullptr) audio_->setMusicVolume(std::clamp(1.0f - fadeAmount_, 0.0f, 1.0f));
            break;
        default:
            break;
    }
    if (credits_) credits_->update(dt);
}

void IntroGameModeStateMachine::drawSkipButton(Graphics::StandardShader* shader, glm::mat4 const& projection) const {
    float const a = skipVisibility_ * skipAlpha_;
    shader->use(1);
    shader->setPVM(projection);
    shader->setColor(glm::vec4(a));
    skipButton_.draw(shader);
}

void IntroGameModeStateMachine::drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader,
                                            glm::mat4 const& projection) {
    if (graphics == nullptr || shader == nullptr) return;
    graphics->setBlend(true);
    drawSkipButton(shader, projection);
    if (subtitles_ && subtitleAlpha_ > 0.0f) {
        float const s = subtitleAlpha_;
        float const lift = safeAreaLift();
        shader->setColor(glm::vec4(s));
        glm::mat4 const scale = glm::scale(glm::mat4(1.0f), glm::vec3(subtitleBoxScale_, 1.0f, 1.0f));
        Sprite const* box = &*fullBox_;
        if (subtitleLineCount_ == 1) {
            float const h = float(fullBox_->texture().height());
            shader->setPVM(projection *
                           glm::translate(glm::mat4(1.0f), glm::vec3(virtualWidth() * 0.5f, h * 0.25f + lift + 65.0f, 0.0f)) *
                           scale);
            box = &*halfBox_;
        } else {
            float const y = needsSafeAreaInsets() ? 77.0f : 61.0f;
            shader->setPVM(projection * glm::translate(glm::mat4(1.0f), glm::vec3(virtualWidth() * 0.5f, y, 0.0f)) *
                           scale);
        }
        box->draw(*shader);
        if (s >= 0.3f) Graphics::DrawRecord::panel(box->quad().lowest(), box->quad().highest(), shader->pvm());
        if (!subtitleMesh_.empty()) {
            shader->use(3);
            shader->setPVM(projection);
            shader->setColor(glm::vec4(1.0f, 1.0f, 1.0f, s));
            subtitleMesh_.draw(graphics, shader, glm::vec4(1.0f, 1.0f, 1.0f, s));
        }
    }
    if (credits_) {
        if (float const dim = creditsDim * credits_->fade(); dim > 0.0f) {
            shader->use(1);
            shader->setPVM(projection);
            shader->setColor(glm::vec4(dim));
            fade_.draw(*shader);
        }
        credits_->draw(graphics, shader, projection);
    }
    // Again, so that the button lies above the credits.
    drawSkipButton(shader, projection);
    if (fadeAmount_ > 0.0f) {
        shader->use(1);
        shader->setPVM(projection);
        shader->setColor(glm::vec4(fadeAmount_));
        fade_.draw(*shader);
    }
}

void IntroGameModeStateMachine::touchMoved(glm::vec2 const& point, uint32_t touch) {
    skipButton_.touchMoved(point, touch);
}

void IntroGameModeStateMachine::touchBegan(glm::vec2 const& point, uint32_t touch) {
    skipButton_.touchBegan(point, touch);
}

void IntroGameModeStateMachine::touchEnded(glm::vec2 const& point, uint32_t touch) {
    skipButton_.touchEnded(point, touch);
}

void IntroGameModeStateMachine::gamepadInput(GamepadState const& state) {
    if (state_ == kPlaying && state.buttonA != 0) skipButton_.activate();
}

bool IntroGameModeStateMachine::buttonPressed(uint32_t code) {
    if (state_ != kPlaying) return false;
    if (code != GameViewController::pauseButtonCode && code != GameViewController::menuButtonCode) return false;
    skipButton_.activate();
    return true;
}
