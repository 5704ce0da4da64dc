#include "menus/ResultsMenu.h"

#include <algorithm>
#include <cfloat>

#include "fonts/Context.h"
#include "fonts/LabelStyles.h"
#include "fonts/Layout.h"
#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "level/LevelCatalog.h"
#include "menus/ResultRecording.h"
#include "menus/ResultTexts.h"
#include "menus/SineRamp.h"
#include "os/Assets.h"
#include "os/ViewController.h"
#include "os/services/GameCenter.h"

namespace {

glm::vec2 screenCentre() { return glm::vec2(virtualWidth(), virtualHeight()) / 2.0f; }
float safeInset() { return needsSafeAreaInsets() ? 4.0f : 0.0f; }

constexpr UVSlideSprite::Parameters kSwipe{0.01f, 0.01f, 0.0005f, 2.0f, -2.0f};
constexpr ExpandingSprite::Parameters kBurst{0.015f, 4.0f, 0.75f};
constexpr uint32_t kHardcoreTimeBoard = 1337, kHardcoreLevelsBoard = 1338;

TextureDescriptor const& backgroundFor(GameMode mode, TriggerVariant const& result) {
    if (mode != GameMode::Hardcore) return Assets::texMenusBackgroundsWoodplate;
    return result.which() == 4 ? Assets::texMenusBackgroundsWoodplateHardcore
                               : Assets::texMenusBackgroundsWoodplateHardcoreWin;
}

Button::Parameters plainButton(std::string const& hit, boost::optional<SoundDescriptor const&> const& click,
                               boost::optional<TextureDescriptor const&> const& base, TextureDescriptor const& lit,
                               std::function<bool()> action, glm::vec3 const& labelPosition) {
    return Button::Parameters{hit, click, base, lit, boost::none, boost::none, std::move(action), labelPosition, 0, 0};
}

}  // namespace

ResultsMenu::ResultsMenu(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts, GameMode mode,
                         CloudSyncThread* cloudSync, std::string const& levelPath,
                         std::function<bool()> const& mainMenuAction, std::function<bool()> const& retryAction,
                         Variant const& result)
    : graphics_(graphics),
      fonts_(fonts),
      background_(Sprite(Graphics::Texture(graphics, backgroundFor(mode, result)), kAnchorOrigin, glm::vec2(0.0f),
                         std::nullopt, glm::vec2(1.0f)),
                  PopInTransform(kAnchorCenter, glm::vec2(7.0f, 16.0f + safeInset()), glm::vec2(0.0f))),
      mode_(mode),
      continue_(graphics, audio,
                screenCentre() + glm::vec2(-5.0f, -313.0f + safeInset() + (safeInset() > 0.0f ? 38.0f : 0.0f)),
                [&] {
                    static glm::vec3 const labelPosition(0.0f, -10.0f, 0.0f);
                    // Parameters refer to these, so they outlive the lambda.
                    static boost::optional<SoundDescriptor const&> const click(Assets::sndDravoMenuButtonGeneral);
                    static boost::optional<TextureDescriptor const&> const base(Assets::texMenusButtonsContinueNormal);
                    return Button::Parameters{Assets::hitMenusButtonsContinue,
                                              click,
                                              base,
                                              Assets::texMenusButtonsContinueHighlight,
                                              fonts->font(Fonts::FontStyle::popupButton),
                                              fonts->localizedString("continue"),
                                              [this] { return continueAction(); },
                                              labelPosition,
                                              0,
                                              0};
                }()),
      laps_("", PopInTransform(kAnchorBottomLeft, glm::vec2(-196.0f, 100.0f), glm::vec2(16.0f, -16.0f)),
            fonts->font(Fonts::FontStyle::regularMenu), Fonts::alignLeft, 1.0f),
      run_("", PopInTransform(kAnchorBottomLeft, glm::vec2(-196.0f, 100.0f), glm::vec2(16.0f, -16.0f)),
           fonts->font(Fonts::FontStyle::regularMenu), Fonts::alignLeft, 1.0f),
      slide_(slideTransition(0, false)),
      target_("", glm::vec2(228.0f, 16.0f), fonts->font(Fonts::FontStyle::regularMenu), Fonts::alignCentre, 1.0f),
      cloudSync_(cloudSync),
      mainMenu_(graphics, audio, glm::vec2(147.0f, -132.0f), screenCentre() + glm::vec2(154.0f, -116.0f + safeInset()),
                plainButton(Assets::hitMenusButtonsMainmenubutton,
                            boost::optional<SoundDescriptor const&>(Assets::sndDravoMenuButtonGeneral),
                            boost::optional<TextureDescriptor const&>(Assets::texMenusButtonsMainmenubuttonNormal),
                            Assets::texMenusButtonsMainmenubuttonLit, mainMenuAction, glm::vec3(0.0f))),
      retry_(graphics, audio, glm::vec2(-142.0f, -132.0f), screenCentre() + glm::vec2(-135.0f, -116.0f + safeInset()),
             plainButton(Assets::hitMenusButtonsRestartlevelbutton,
                         boost::optional<SoundDescriptor const&>(Assets::sndDravoMenuButtonGeneral),
                         boost::optional<TextureDescriptor const&>(Assets::texMenusButtonsRestartlevelbuttonNormal),
                         Assets::texMenusButtonsRestartlevelbuttonLit, retryAction, glm::vec3(0.0f))),
      retryCaption_(fonts->localizedString("tryAgainEndOfLevel"), glm::vec2(-144.0f, -221.0f),
                    fonts->font(Fonts::FontStyle::regularMenu), Fonts::alignCentre, 1.0f),
      mainMenuCaption_(fonts->localizedString("mainMenuEndoFLevel"), glm::vec2(128.0f, -221.0f),
                       fonts->font(Fonts::FontStyle::regularMenu), Fonts::alignCentre, 1.0f),
      signedIn_(isGameCenterAuthenticated()),
      leaderboard_(graphics, audio, screenCentre() + glm::vec2(445.0f, 260.0f),
                   plainButton(Assets::hitMenusButtonsMainmenubutton, boost::none,
                               boost::optional<TextureDescriptor const&>(Assets::texMenusButtonsLeaderboardResultsNormal),
                               Assets::texMenusButtonsLeaderboardResultsLit, [this] { return showLevelLeaderboard(); },
                               glm::vec3(0.0f))),
      audio_(audio) {
    for (int i = 0; i < 3; ++i) {
        starSounds_.emplace_back(audio, Assets::sndDravoStarReward);
        lineSounds_.emplace_back(audio, Assets::sndDravoLevelCompletePopupTextAnim);
        swooshSounds_.emplace_back(audio, Assets::sndDravoStarRewardSwoosh);
    }
    if (auto index = LevelCatalog::findByPath(levelPath)) {
        levelIndex_ = *index;
        if (LevelCatalog::entry(*index).resultsFlag) fanfare_.emplace(audio, Assets::sndEtcDravoLevelCompletePopup);
    }
    glm::vec2 const p = background_.popIn().position();
    bool const lowRow1 = mode == GameMode::CollectTime || mode == GameMode::Hardcore;
    float const row3 = mode == GameMode::CollectTime ? 62.0f : mode == GameMode::Hardcore ? 42.0f : 32.0f;
    struct Row {
        glm::vec2 label, centre;
        float swipeY, starY;
    } const rows[] = {{{-196.0f, lowRow1 ? 140.0f : 190.0f}, {8.0f, 8.0f}, 150.0f, 200.0f},
                      {{-196.0f, 115.0f}, {8.0f, 8.0f}, 70.0f, 120.0f},
                      {{-196.0f, row3}, {16.0f, -16.0f}, -10.0f, 40.0f}};
    rows_.reserve(3);
    stars_.reserve(3);
    for (auto const& r : rows) {
        rows_.emplace_back(PopInLabel("", PopInTransform(kAnchorBottomLeft, r.label, r.centre),
                                      fonts->font(Fonts::FontStyle::regularMenu), Fonts::alignLeft, 1.0f),
                           UVSlideSprite(Sprite(Graphics::Texture(graphics, Assets::texMenusEffectsEndoflevelSwipe),
                                                kAnchorNone, p + glm::vec2(-295.0f, r.swipeY), glm::vec2(575.0f, 100.0f),
                                                glm::vec2(0.5f, 1.0f)),
                                         kSwipe),
                           0.25f);
        stars_.emplace_back(PopInSprite(Sprite(Graphics::Texture(graphics, Assets::texMenusResultsStar), kAnchorOrigin,
                                               glm::vec2(0.0f), std::nullopt, glm::vec2(1.0f)),
                                        PopInTransform(kAnchorNone, glm::vec2(233.0f, r.starY), glm::vec2(0.0f))),
                            ExpandingSprite(Sprite(Graphics::Texture(graphics, Assets::texCoinsShockwave), kAnchorOrigin,
                                                   glm::vec2(0.0f), std::nullopt, glm::vec2(1.0f)),
                                            kAnchorNone, kBurst, p + glm::vec2(228.0f, r.starY + 2.0f)));
    }
    std::vector<FocusNavigator::Node> nodes;
    using N = FocusNavigator::Node;
    if (signedIn_) {
        nodes = {N(&continue_.button(), boost::none, boost::none, 2u, 3u), N(&mainMenu_, 2u, 2u, 3u, 0u),
                 N(&retry_, 1u, 1u, 3u, 0u), N(&leaderboard_.button(), 1u, 1u, 0u, 1u)};
    } else {
        nodes = {N(&continue_.button(), boost::none, boost::none, 2u, 2u), N(&mainMenu_, 2u, 2u, 0u, 0u),
                 N(&retry_, 1u, 1u, 0u, 0u)};
    }
    focus_.emplace(audio, nodes, 0u, true);
}

void ResultsMenu::trigger(Variant const& result, std::function<void()> const& finished, InitState initState) {
    initState_ = initState;
    finished_ = finished ? finished : [] {};
    bool const record = initState == kAnimated;
    auto localize = [this](std::string const& key) { return fonts_->localizedString(key); };
    // The best shown is the one stored before this result; the stars are stored now.
    ResultTexts const t = resultTexts(result, storedBestFor(result), localize);
    int const which = result.which();
    if (which <= 2) {
        TextureDescriptor const& overlay = mode_ == GameMode::TimeAttack    ? Assets::texMenusResultsEndoflevelOverlayBonus
                                           : mode_ == GameMode::CollectTime ? Assets::texMenusResultsEndoflevelOverlayBonusB
                                                                            : Assets::texMenusResultsEndoflevelA;
        overlay_.emplace(Graphics::Texture(graphics_, overlay), kAnchorNone, glm::vec2(-519.0f, -156.0f), std::nullopt,
                         glm::vec2(1.0f));
    }
    if (which == 3) {
        leaderboard_.button().onActivate() = [] { return showHardcoreTimeLeaderboard(); };
        runSound_.emplace(audio_, Assets::sndCharacterHardcorecomplete);
    } else if (which == 4) {
        leaderboard_.button().onActivate() = [] { return showHardcoreLevelsLeaderboard(); };
    }
    rows_[0].label().text() = t.row1;
    rows_[1].label().text() = t.row2;
    rows_[2].label().text() = t.row3;
    laps_.text() = t.laps;
    run_.text() = t.run;
    target_.text() = t.target;
    GoalFlags const flags = recordTrigger(result, record, cloudSync_);
    goalFlags_ = uint16_t(flags.before | (flags.gained << 8));
    for (int k = 0; k < 3; ++k) {
        if (flags.before & (1 << k)) {
            stars_[k].start();
            stars_[k].finish();
        }
    }
}

std::vector<std::string> ResultsMenu::texts() {
    return {rows_[0].label().text(), rows_[1].label().text(), rows_[2].label().text(), laps_.text(), run_.text(),
            target_.text()};
}

bool ResultsMenu::isReady() const {
    if (!background_.sprite().isReady() || !continue_.button().isReady()) return false;
    for (int k = 0; k < 3; ++k) {
        auto& row = const_cast<UVSlideLabel&>(rows_[k]);
        auto& star = const_cast<PopInBurstSprite&>(stars_[k]);
        if (!row.slide().sprite().isReady() || !star.badge().sprite().isReady() || !star.burst().sprite().isReady())
            return false;
    }
    return (!overlay_ || overlay_->isReady()) && mainMenu_.isReady() && retry_.isReady() &&
           leaderboard_.button().isReady();
}

void ResultsMenu::playIfAnimated(Sound& sound) {
    if (initState_ != kImmediate) sound.play();
}

void ResultsMenu::stepSequence(float dt) {
    switch (state_) {
    case 1:
        background_.update(dt);
        if (!background_.popIn().animation().isShown()) break;
        if (mode_ == GameMode::TimeAttack ||
            (mode_ == GameMode::Hardcore && rows_[0].label().text().empty())) {
            state_ = 8;
            (mode_ == GameMode::TimeAttack ? laps_ : run_).popIn().animation().start();
            playIfAnimated(lineSounds_[0]);
        } else {
            state_ = 2;
            rows_[0].start();
            if (mode_ != GameMode::CollectTime && mode_ != GameMode::Hardcore && goalNew(0))
                playIfAnimated(swooshSounds_[0]);
        }
        break;
    case 2:
        if (rows_[0].progress() > 0.3f) {
            playIfAnimated(lineSounds_[0]);
            state_ = 3;
            if (goalNew(0)) stars_[0].start(), starSounds_[0].play();
        }
        break;
    case 3:
        if (timer_ < 100.0f) {
            timer_ += dt;
            break;
        }
        if (mode_ == GameMode::CollectTime) {
            state_ = 7;
            rows_[2].start();
        } else {
            state_ = 4;
            rows_[1].start();
            if (goalNew(1)) swooshSounds_[1].play();
        }
        timer_ = dt;
        break;
    case 4:
        if (rows_[1].progress() > 0.3f) {
            playIfAnimated(lineSounds_[1]);
            state_ = 5;
            if (goalNew(1)) stars_[1].start(), starSounds_[1].play();
        }
        break;
    case 5:
        if (timer_ < 100.0f) {
            timer_ += dt;
            break;
        }
        state_ = 7;
        rows_[2].start();
        if (goalNew(2)) swooshSounds_[2].play();
        timer_ = dt;
        break;
    case 7:
        if (rows_[2].progress() > 0.3f) {
            playIfAnimated(lineSounds_[2]);
            state_ = 8;
            if (goalNew(2)) stars_[2].start(), starSounds_[2].play();
        }
        break;
    case 8:
        timer_ += dt;
        if (timer_ >= 500.0f) state_ = 9, timer_ = 0.0f;
        break;
    case 9:
        state_ = 10;
        continue_.popIn().animation().start();
        leaderboard_.popIn().animation().start();
        break;
    case 10:
        if (continue_.popIn().animation().isShown()) {
            if (runSound_) runSound_->play();
            state_ = 11;
            logScreen("ResultsMenu");
        }
        continue_.update(dt);
        leaderboard_.update(dt);
        break;
    case 11:
        continue_.update(dt);
        leaderboard_.update(dt);
        mainMenu_.update(dt);
        retry_.update(dt);
        focus_->updateHighlight();
        break;
    case 12:
        if (slideState_ == 2 && continue_.popIn().animation().isHidden()) {
            state_ = 13;
            finished_();
            break;
        }
        advanceSlide(dt);
        continue_.update(dt);
        break;
    default:
        break;
    }
    for (int k = 0; k < 3; ++k) stars_[k].update(dt), rows_[k].update(dt);
    laps_.update(dt);
    run_.update(dt);
}

void ResultsMenu::advanceSlide(float dt) {
    if (slideState_ != 1) return;
    if (slideProgress_ >= 1.0f) {
        slideState_ = 2;
        return;
    }
    slideProgress_ = std::clamp(slideProgress_ + slide_.rate * dt, 0.0f, 1.0f);
}

void ResultsMenu::update(float dt) {
    switch (initState_) {
    case 1:
        if (!isReady()) return;
        state_ = 1;
        initState_ = 4;
        background_.popIn().animation().start();
        if (fanfare_) fanfare_->play();
        return;
    case 2: {
        if (!isReady()) return;
        slide_ = slideTransition(3, false);
        background_.popIn().animation().start();
        state_ = 1;
        // Every state moves on within a few huge steps; the bound keeps a stuck widget from hanging.
        for (int i = 0; i < 256 && state_ != 11; ++i) stepSequence(FLT_MAX);
        continue_.popIn().animation().dismiss();
        for (int i = 0; i < 8 && !continue_.popIn().animation().isHidden(); ++i) continue_.update(FLT_MAX);
        slideProgress_ = 0.0f;
        slideState_ = 1;
        initState_ = 3;
        return;
    }
    case 3:
        if (!isReady()) return;
        if (slideState_ == 2) {
            continue_.popIn().animation().start();
            slide_ = slideTransition(0, false);
            slideProgress_ = 0.0f;
            slideState_ = 0;
            initState_ = 4;
        } else {
            advanceSlide(dt);
        }
        return;
    default:
        stepSequence(dt);
    }
}

void ResultsMenu::preDraw() {
    background_.preDraw();
    for (int k = 0; k < 3; ++k) stars_[k].preDraw(), rows_[k].preDraw();
    continue_.preDraw();
    leaderboard_.preDraw();
    continueMesh_.clear();
    continue_.drawLabel(continueMesh_);
    labelsMesh_.clear();
    for (auto& row : rows_) drawShadowedWidgetText(labelsMesh_, row.label());
    drawShadowedWidgetText(labelsMesh_, laps_);
    drawShadowedWidgetText(labelsMesh_, run_);
    drawShadowedLabel(labelsMesh_, target_);
    drawShadowedLabel(labelsMesh_, mainMenuCaption_);
    drawShadowedLabel(labelsMesh_, retryCaption_);
    slide_.current = slide_.x + (slide_.y - slide_.x) * sineRamp(slideProgress_, slide_.firstThreshold, slide_.secondThreshold);
}

void ResultsMenu::draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& view) {
    if (state_ == 0) return;
    graphics->setBlend(true);
    glm::mat4 m = view;
    m[3] += m[0] * slide_.current;  // view x translation(current, 0, 0)
    glm::mat4 const frame = m * background_.popIn().matrix();
    shader->use(Graphics::StandardShader::kColor);
    shader->setColor(glm::vec4(1.0f));
    shader->setPVM(m);
    background_.draw(shader);
    if (signedIn_) leaderboard_.draw(shader);
    shader->setPVM(frame);
    if (overlay_) overlay_->draw(*shader);
    retry_.draw(shader);
    mainMenu_.draw(shader);
    shader->use(Graphics::StandardShader::kAmbient);
    shader->setPVM(frame);
    labelsMesh_.draw(graphics, shader, boost::none);
    shader->use(Graphics::StandardShader::kColor);
    shader->setColor(glm::vec4(1.0f));
    for (int k = 0; k < 3; ++k) {
        if (!goalShown(k)) continue;
        if (goalNew(k)) {
            shader->setPVM(m);
            rows_[k].draw(shader);
        }
        shader->setPVM(frame);
        stars_[k].draw(shader);
    }
    shader->setPVM(view);
    continue_.draw(shader);
    shader->use(Graphics::StandardShader::kAmbient);
    shader->setPVM(view);
    continueMesh_.draw(graphics, shader, boost::none);
}

void ResultsMenu::touchBegan(glm::vec2 const& point, unsigned touch) {
    if (state_ != 11) return;
    continue_.touchBegan(point, touch);
    retry_.touchBegan(point, touch);
    mainMenu_.touchBegan(point, touch);
    if (signedIn_) leaderboard_.touchBegan(point, touch);
}

void ResultsMenu::touchMoved(glm::vec2 const& point, unsigned touch) {
    if (state_ != 11) return;
    continue_.touchMoved(point, touch);
    retry_.touchMoved(point, touch);
    mainMenu_.touchMoved(point, touch);
    if (signedIn_) leaderboard_.touchMoved(point, touch);
}

void ResultsMenu::touchEnded(glm::vec2 const& point, unsigned touch) {
    if (state_ != 11) return;
    continue_.touchEnded(point, touch);
    if (state_ != 11) return;  // continue took it
    retry_.touchEnded(point, touch);
    mainMenu_.touchEnded(point, touch);
    if (signedIn_) leaderboard_.touchEnded(point, touch);
}

void ResultsMenu::gamepadInput(GamepadState const& s) {
    if (inputTaker() != this) return;
    focus_->gamepadInput(s);
    if (focus_->focused() == 0 && continue_.button().isActivated()) continue_.popIn().animation().dismiss();
}

void ResultsMenu::buttonPressed(unsigned code) {
    if (state_ != 11 || code != ViewController::buttonPause || !continue_.popIn().animation().isShown()) return;
    continue_.popIn().animation().dismiss();
    continue_.button().activate();
}

bool ResultsMenu::continueAction() {
    if (state_ != 11) return false;
    state_ = 12;
    slideProgress_ = 0.0f;
    slideState_ = 1;
    return true;
}

bool ResultsMenu::showLevelLeaderboard() {
    presentGameCenterForLevel([](bool) {}, uint32_t(levelIndex_));
    return false;
}

bool ResultsMenu::showHardcoreTimeLeaderboard() {
    presentGameCenterForLevel([](bool) {}, kHardcoreTimeBoard);
    return false;
}

bool ResultsMenu::showHardcoreLevelsLeaderboard() {
    presentGameCenterForLevel([](bool) {}, kHardcoreLevelsBoard);
    return false;
}
