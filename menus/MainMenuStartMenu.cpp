#include "menus/MainMenuStartMenu.h"

#include "fonts/Context.h"
#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "level/LevelCatalog.h"
#include "os/Assets.h"
#include "os/ViewController.h"
#include "os/services/GameCenter.h"
#include "os/services/ShellServices.h"
#include "save/RoamingDataFile.h"

namespace {

glm::vec2 screenCentre() { return glm::vec2(virtualWidth(), virtualHeight()) / 2.0f; }

}  // namespace

TextureDescriptor const& MainMenuStartMenu::logoFor(std::string const& locale) {
    if (locale == "ko_KR") return Assets::texMenusMainmenuVastellogoKoKR;
    if (locale == "zh_CN") return Assets::texMenusMainmenuVastellogoZhCN;
    if (locale == "zh_TW") return Assets::texMenusMainmenuVastellogoZhTW;
    if (locale == "ja_JP") return Assets::texMenusMainmenuVastellogoJaJP;
    return Assets::texMenusMainmenuVastellogo;
}

bool MainMenuStartMenu::unlockInputsChanged() {
    std::string save = RoamingDataFile::fingerprint("roamingData");
    int const download = downloadState();
    if (save == saveSeen_ && download == downloadSeen_) return false;
    saveSeen_ = std::move(save);
    downloadSeen_ = download;
    return true;
}

bool MainMenuStartMenu::hardcoreUnlockedNow() {
    RoamingDataFile file("roamingData");
    auto const& data = static_cast<RoamingData const&>(file.data);
    uint32_t const last = uint32_t(LevelCatalog::count() - 1);
    auto it = data.findLevelEntry(last);
    return it != data.levelEntries().end() && it->levelId() == last && it->best() != 0 && downloadState() == 4;
}

MainMenuStartMenu::MainMenuStartMenu(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                                     std::function<void(Choice)> const& onChoice, StartLevel const& startLevel)
    : logo_(Sprite(Graphics::Texture(graphics, logoFor(preferredLocale())), kAnchorOrigin, glm::vec2(0.0f),
                   std::nullopt, glm::vec2(1.0f)),
            PopInTransform(kAnchorCenter, glm::vec2(-5.0f, 120.0f), glm::vec2(0.0f))),
      startLevel_(startLevel),
      onChoice_(onChoice),
      audio_(audio) {
    float const inset = needsSafeAreaInsets() ? 0.9f / safeAreaScale() : 0.0f;
    glm::vec2 const c = screenCentre(), topLeft(0.0f, virtualHeight()), topRight(virtualWidth(), virtualHeight());
    static boost::optional<SoundDescriptor const&> const click(Assets::sndDravoMenuButtonGeneral);
    static glm::vec3 const noLabel(0.0f), hardcoreLabel(0.0f, -85.0f, 0.0f);
    struct Spec {
        std::string const& hit;
        TextureDescriptor const &base, &lit;
        glm::vec2 position;
        std::function<bool()> action;
    } const specs[] = {
        {Assets::hitMenusButtonsOptions, Assets::texMenusButtonsOptionsNormal, Assets::texMenusButtonsOptionsLit,
         c + glm::vec2(-236.0f, -192.0f), [this] { return choose(Options); }},
        {Assets::hitMenusButtonsLeaderboards, Assets::texMenusButtonsLeaderboardsNormal,
         Assets::texMenusButtonsLeaderboardsLit, c + glm::vec2(236.0f, -192.0f), [this] { return choose(Leaderboards); }},
        {Assets::hitMenusButtonsPlay, Assets::texMenusButtonsPlayNormal, Assets::texMenusButtonsPlayLit,
         c + glm::vec2(0.0f, -192.0f), [this] { return choose(Play); }},
        {Assets::hitMenusButtonsCredits, Assets::texMenusButtonsCreditsNormal, Assets::texMenusButtonsCreditsLit,
         topLeft + glm::vec2(110.0f + 80.0f * inset, -110.0f - 64.0f * inset), [this] { return choose(Credits); }},
        {Assets::hitMenusButtonsCredits, Assets::texMenusButtonsHardcoreNormal, Assets::texMenusButtonsHardcoreLit,
         topRight + glm::vec2(-110.0f - 80.0f * inset, -110.0f - 64.0f * inset),
         [this] {
             auto const& first = LevelCatalog::entry(0);
             startLevel_(first.path, first.nameKey, false, true, true);
             return true;
         }},
    };
    buttons_.reserve(5);
    for (size_t i = 0; i < 5; ++i) {
        auto const& s = specs[i];
        bool const hardcore = i == 4;
        boost::optional<TextureDescriptor const&> const base(s.base);
        buttons_.emplace_back(
            graphics, audio, s.position,
            Button::Parameters{s.hit, click, base, s.lit,
                               hardcore ? boost::optional<Fonts::Font>(fonts->font(Fonts::FontStyle::backgroundDownloader))
                                        : boost::none,
                               hardcore ? boost::optional<std::string>(fonts->localizedString("hardcore")) : boost::none,
                               s.action, hardcore ? hardcoreLabel : noLabel, 0, 0});
    }
    unlockInputsChanged();
    hardcoreUnlocked_ = hardcoreUnlockedNow() ? 1 : 0;
    signedIn_ = isGameCenterAuthenticated() ? 1 : 0;
    rebuildFocus();
}

void MainMenuStartMenu::rebuildFocus() {
    using N = FocusNavigator::Node;
    Button* b[5];
    for (size_t i = 0; i < 5; ++i) b[i] = &buttons_[i].button();
    std::vector<N> nodes;
    if (hardcoreUnlocked_)
        nodes = {N(b[0], 1u, 2u, 3u, 3u), N(b[1], 2u, 0u, 4u, 4u), N(b[2], 0u, 1u, 4u, 4u), N(b[3], 4u, 4u, 0u, 0u),
                 N(b[4], 3u, 3u, 1u, 1u)};
    else
        nodes = {N(b[0], 1u, 2u, 3u, 3u), N(b[1], 2u, 0u, 3u, 3u), N(b[2], 0u, 1u, 3u, 3u), N(b[3], 0u, 0u, 0u, 0u)};
    if (focus_) focus_->focusedNode().button->setHighlighted(false);
    focus_.emplace(audio_, nodes, 2u, true);
}

void MainMenuStartMenu::open() {
    state_ = 1;
    logo_.popIn().animation().start();
    uint8_t const now = isGameCenterAuthenticated() ? 1 : 0;
    if (now != signedIn_) {
        signedIn_ = now;
        rebuildFocus();
    }
}

bool MainMenuStartMenu::choose(Choice choice) {
    if (state_ != 4) return false;
    state_ = 5;
    pending_ = choice;
    return true;
}

bool MainMenuStartMenu::allPresent(bool shown) const {
    auto is = [shown](PopInAnimation const& a) { return shown ? a.isShown() : a.isHidden(); };
    if (!is(logo_.popIn().animation())) return false;
    for (size_t i = 0; i < presentCount(); ++i)
        if (!is(buttons_[i].popIn().animation())) return false;
    return true;
}

void MainMenuStartMenu::update(float dt) {
    auto updateButtons = [&] {
        for (size_t i = 0; i < presentCount(); ++i) buttons_[i].update(dt);
    };
    switch (state_) {
    case 1:
        timer_ += dt;
        if (timer_ > 150.0f) timer_ = 0.0f, state_ = 2, buttons_[2].popIn().animation().start();
        logo_.update(dt);
        break;
    case 2:
        timer_ += dt;
        if (timer_ > 150.0f) {
            timer_ = 0.0f;
            state_ = 3;
            for (size_t i : {0, 1, 3}) buttons_[i].popIn().animation().start();
            if (hardcoreUnlocked_) buttons_[4].popIn().animation().start();
        }
        buttons_[2].update(dt);
        logo_.update(dt);
        break;
    case 3:
        if (allPresent(true)) {
            state_ = 4;
            logScreen("MainMenuStartMenu");
        }
        logo_.update(dt);
        updateButtons();
        break;
    case 4: {
        focus_->updateHighlight();
        updateButtons();
        if (!unlockInputsChanged()) break;
        bool const unlocked = hardcoreUnlockedNow();
        if (unlocked != bool(hardcoreUnlocked_)) {
            focus_->focusedNode().button->setHighlighted(false);
            hardcoreUnlocked_ = unlocked ? 1 : 0;
            rebuildFocus();
            if (unlocked) buttons_[4].popIn().animation().start();
        }
        break;
    }
    case 5:
        timer_ += dt;
        if (timer_ > 100.0f) {
            for (size_t i = 0; i < presentCount(); ++i) buttons_[i].popIn().animation().dismiss();
            state_ = 6;
            timer_ = 0.0f;
        }
        updateButtons();
        break;
    case 6:
        timer_ += dt;
        if (timer_ > 130.0f) logo_.popIn().animation().dismiss(), state_ = 7, timer_ = 0.0f;
        updateButtons();
        break;
    case 7:
        if (allPresent(false)) state_ = 8;
        logo_.update(dt);
        updateButtons();
        break;
    case 8:
        if (pending_ != None) {
            Choice const choice = pending_;
            for (size_t i = 0; i < presentCount(); ++i) buttons_[i].button().reset();
            pending_ = None;
            onChoice_(choice);
        }
        break;
    default:
        break;
    }
}

void MainMenuStartMenu::preDraw() {
    label_.clear();
    logo_.preDraw();
    for (size_t i = 0; i < presentCount(); ++i) buttons_[i].preDraw();
    if (hardcoreUnlocked_) buttons_[4].drawLabel(label_);
}

void MainMenuStartMenu::draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection) {
    shader->use(Graphics::StandardShader::kColor);
    shader->setColor(glm::vec4(1.0f));
    shader->setPVM(projection);
    logo_.draw(shader);
    for (size_t i = 0; i < presentCount(); ++i) buttons_[i].draw(shader);
    if (!label_.batches.empty()) {
        shader->use(Graphics::StandardShader::kAmbient);
        shader->setPVM(projection);
        label_.draw(graphics, shader, boost::none);
    }
}

void MainMenuStartMenu::touchBegan(glm::vec2 const& point, unsigned touch) {
    if (state_ != 4) return;
    for (size_t i = 0; i < presentCount(); ++i) buttons_[i].touchBegan(point, touch);
}

void MainMenuStartMenu::touchMoved(glm::vec2 const& point, unsigned touch) {
    if (state_ != 4) return;
    for (size_t i = 0; i < presentCount(); ++i) buttons_[i].touchMoved(point, touch);
}

void MainMenuStartMenu::touchEnded(glm::vec2 const& point, unsigned touch) {
    if (state_ != 4) return;
    for (size_t i = 0; i < presentCount(); ++i) buttons_[i].touchEnded(point, touch);
}

void MainMenuStartMenu::gamepadInput(GamepadState const& state) {
    if (inputTaker()) focus_->gamepadInput(state);
}
