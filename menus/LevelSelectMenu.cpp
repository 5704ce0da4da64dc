#include "menus/LevelSelectMenu.h"

#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <initializer_list>
#include <limits>

#include "fonts/Context.h"
#include "graphics/Context.h"
#include "graphics/ScreenAnchor.h"
#include "graphics/StandardShader.h"
#include "level/LevelCatalog.h"
#include "menus/SineRamp.h"
#include "os/Assets.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/ViewController.h"
#include "os/services/ShellServices.h"
#include "save/RoamingDataFile.h"

namespace {

constexpr float kPageWidth = 800.0f;
constexpr uint32_t kMaxLevels = 24;  // entries for other ids mean nothing to the level select

glm::vec2 screenCentre() { return glm::vec2(virtualWidth(), virtualHeight()) / 2.0f; }

LevelSelectMenu::Slide slideOf(int32_t direction) {
    SlideTransition const t = slideTransition(direction, false);
    return {t.x, t.y, t.rate, t.firstThreshold, t.secondThreshold, t.current, 0.0f, 0};
}
LevelSelectMenu::Slide const kIndicatorDrop{64.0f, 0.0f, 0.005f, 0.98f, 0.99f, 64.0f, 0.0f, 0};

void advance(LevelSelectMenu::Slide& s, float dt) {
    if (s.value >= 1.0f) s.running = 2;
    s.value = std::clamp(s.value + s.rate * dt, 0.0f, 1.0f);
}
void place(LevelSelectMenu::Slide& s) { s.current = s.from + (s.to - s.from) * sineRamp(s.value, s.threshold1, s.threshold2); }

AnimatedButton makeBackButton(Graphics::Context* graphics, Audio::Context* audio, std::function<bool()> action) {
    boost::optional<SoundDescriptor const&> const click(Assets::sndDravoMenuButtonGeneral);
    boost::optional<TextureDescriptor const&> const base(Assets::texMenusButtonsPilleftNormal);
    glm::vec3 const labelPosition(0.0f);
    Button::Parameters const p{Assets::hitMenusButtonsPilleft, click, base, Assets::texMenusButtonsPilleftLit,
                               boost::none, boost::none, std::move(action), labelPosition, 0, 0};
    return AnimatedButton(graphics, audio, screenCentre() + glm::vec2(-425.0f, 250.0f), p);
}

std::unique_ptr<ConfirmationBox> makeBox(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                                         char const* message, char const* affirmative, char const* negative,
                                         std::function<void()> onAffirmative) {
    static glm::vec2 const offset(0.0f);
    std::string const& m = fonts->localizedString(message);
    std::string const& a = fonts->localizedString(affirmative);
    boost::optional<std::string const&> n;
    if (negative) n = fonts->localizedString(negative);
    return std::make_unique<ConfirmationBox>(
        graphics, audio, fonts, ConfirmationBox::Parameters{offset, m, a, n, std::move(onAffirmative), {}, true});
}

// Equal when both hold the same levels with the same goals; ids past the catalog and goal bits
// above the three goals are ignored.
bool sameProgress(RoamingData const& a, RoamingData const& b) {
    auto relevant = [](RoamingData::LevelEntry const& e) { return e.levelId() < kMaxLevels; };
    auto const& ea = a.levelEntries();
    auto const& eb = b.levelEntries();
    if (std::count_if(ea.begin(), ea.end(), relevant) != std::count_if(eb.begin(), eb.end(), relevant)) return false;
    for (auto const& e : ea) {
        if (!relevant(e)) continue;
        auto const it = b.findLevelEntry(e.levelId());
        if (it == eb.end() || it->levelId() != e.levelId() || ((it->goalFlags() ^ e.goalFlags()) & 7)) return false;
    }
    return true;
}

}  // namespace

LevelSelectMenu::LevelSelectMenu(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                                 std::function<void()> const& back, StartLevel const& startLevel,
                                 boost::optional<unsigned long> const& selectedLevel)
    : slideInSound_(audio, Assets::sndDravoMenuSlideIn),
      slideOutSound_(audio, Assets::sndDravoMenuSlideOut),
      back_(back),
      backButton_(makeBackButton(graphics, audio, [this] { return backAction(); })),
      slide_(slideOf(2)),
      indicatorDrop_(kIndicatorDrop),
      bonusHintBox_(makeBox(graphics, audio, fonts, "bonusLevelsPopupHint", "popupAffirmative", nullptr,
                            [this] { closePopUps(); })),
      tutorialBox_(makeBox(graphics, audio, fonts, "skipTutorialPopup", "yesPopup", "noPopup", {})),
      downloaderBox_(makeBox(graphics, audio, fonts, "downloaderStillDownloading", "popupAffirmative", nullptr,
                             [this] { closePopUps(); })),
      onLevelChosen_([this](std::string const& path, std::string const& name) { return loadLevel(path, name); }),
      showBonusHint_([this] { bonusHintBox_->show(); }),
      selectedLevel_(selectedLevel),
      graphics_(graphics),
      audio_(audio),
      fonts_(fonts),
      startLevel_(startLevel),
      scroller_(Scroller::Parameters(glm::vec4(-FLT_MAX, -FLT_MAX, INFINITY, INFINITY), 1, kPageWidth, 150.0f, 1.0f,
                                     0.002f, 0.0f, 0.0f)) {
    {
        RoamingDataFile file("roamingData");
        savedProgress_ = file.data;
    }
    rebuildPages();
    size_t const n = pages_.size();
    for (size_t i = 0; i < n; ++i) {
        glm::vec2 const offset(27.0f - 50.0f * float(n) / 2.0f + 50.0f * float(i), -328.0f);
        pageIndicators_.emplace_back(
            Sprite(Graphics::Texture(graphics, Assets::texMenusLevelselectNavigationDark), kAnchorCenter, offset,
                   std::nullopt, glm::vec2(1.0f)),
            Sprite(Graphics::Texture(graphics, Assets::texMenusLevelselectNavigationLight), kAnchorCenter, offset,
                   std::nullopt, glm::vec2(1.0f)),
            0);
    }
    scroller_ = Scroller(Scroller::Parameters(glm::vec4(-FLT_MAX, -FLT_MAX, INFINITY, INFINITY), 1, kPageWidth, 150.0f,
                                              1.0f, 0.002f, 0.0f, -float(n > 0 ? n - 1 : 0) * kPageWidth));
    buildFocus();
    scrollToHighlighted();
}

void LevelSelectMenu::rebuildPages() {
    std::vector<LevelSelectPage> pages;
    char previous = 0;
    for (uint64_t i = 0; i < LevelCatalog::count(); ++i) {
        char const act = LevelCatalog::entry(i).act;
        if (i == 0 || act != previous)
            pages.push_back(levelSelectItems(graphics_, audio_, fonts_, onLevelChosen_, showBonusHint_, act,
                                             savedProgress_, selectedLevel_));
        previous = act;
    }
    pages_ = std::move(pages);
}

void LevelSelectMenu::buildFocus() {
    std::vector<FocusNavigator::Node> nodes;
    focusTiles_.clear();
    for (auto& page : pages_)
        for (auto& tile : page.tiles) focusTiles_.push_back(&tile);
    auto nodeOf = [this](uint64_t catalogIndex) -> boost::optional<uint64_t> {
        for (size_t k = 0; k < focusTiles_.size(); ++k)
            if (focusTiles_[k]->catalogIndex() == catalogIndex) return uint64_t(k);
        return boost::none;
    };
    uint64_t focused = 0;
    for (size_t k = 0; k < focusTiles_.size(); ++k) {
        auto const& e = LevelCatalog::entry(focusTiles_[k]->catalogIndex());
        nodes.emplace_back(&focusTiles_[k]->button().button(), nodeOf(e.previous), nodeOf(e.next), nodeOf(e.bonusLink),
                           nodeOf(e.bonusLink2));
        if (focusTiles_[k]->isHighlighted()) focused = k;
    }
    // Left of the first level wraps to the newest main level, and right from there back.
    for (size_t k = nodes.size(); k-- > 0 && !nodes.empty();) {
        if (LevelCatalog::entry(focusTiles_[k]->catalogIndex()).mode != GameMode::Normal) continue;
        nodes[0].left = uint64_t(k);
        nodes[k].right = uint64_t(0);
        break;
    }
    focus_ = std::make_unique<FocusNavigator>(audio_, nodes, focused, false);
}

LevelTileButton* LevelSelectMenu::focusTile(uint64_t node) {
    return node < focusTiles_.size() ? focusTiles_[node] : nullptr;
}

void LevelSelectMenu::scrollToHighlighted() {
    for (size_t p = 0; p < pages_.size(); ++p)
        for (auto const& tile : pages_[p].tiles)
            if (tile.isHighlighted()) {
                scroller_.setOffset(-float(p) * kPageWidth);
                return;
            }
}

void LevelSelectMenu::reset() {
    if (state_ != 8) return;
    slide_ = slideOf(2);
    indicatorDrop_ = kIndicatorDrop;
    backButton_.button().reset();
    state_ = 0;
}

void LevelSelectMenu::closePopUps() {
    for (auto* box : {bonusHintBox_.get(), tutorialBox_.get(), downloaderBox_.get()})
        if (box->isActive()) box->close();
}

bool LevelSelectMenu::loadLevel(std::string const& path, std::string const& name) {
    if (state_ != 5) return false;
    uint8_t scheme = 0;
    {
        RoamingDataFile file("roamingData");
        scheme = file.data.controlScheme();
    }
    auto const index = LevelCatalog::findByPath(path);
    if (!index) return false;  // tiles only pass catalog paths
    auto const& e = LevelCatalog::entry(*index);
    FileSystem const& fs = Singleton<FileSystem>::instance();
    std::string const start = !e.introPath.empty() && fs.exists(e.introPath) ? e.introPath : path;
    if (!fs.exists(start)) {
        downloaderBox_->show();
        return false;
    }
    if (scheme == 0 && e.offersTutorial && !isControllerPresent() && !hasPlatformInput() && hasTouchScreen()) {
        tutorialBox_->onAffirmative() = [this, start, name] {
            logEvent("TUTORIAL_YES");
            state_ = 6;
            startLevel_(start, name, false, false, false);
        };
        tutorialBox_->onNegative() = [this, start, name] {
            logEvent("TUTORIAL_NO");
            state_ = 6;
            startLevel_(start, name, false, true, false);
        };
        tutorialBox_->show();
        return false;
    }
    state_ = 6;
    startLevel_(start, name, false, false, false);
    return true;
}

void LevelSelectMenu::slideOut() {
    state_ = 7;
    slide_ = slideOf(1);
    slide_.value = 0.0f;
    slide_.running = 1;
    slideOutSound_.play();
}

bool LevelSelectMenu::backAction() {
    if (state_ != 5) return false;
    slideOut();
    return true;
}

void LevelSelectMenu::refresh(float dt) {
    bool changed = false;
    {
        // One accessor, closed before any page is built; it writes nothing back as nothing
        // here changes its record.
        RoamingDataFile const file("roamingData");
        if (!sameProgress(file.data, savedProgress_)) {
            savedProgress_ = file.data;
            changed = true;
        }
    }
    if (changed) {
        rebuildPages();
        buildFocus();
        scrollToHighlighted();
    }
    for (auto& page : pages_) page.update(dt);
}

void LevelSelectMenu::update(float dt) {
    switch (state_) {
    case 1: {
        bool ready = backButton_.button().isReady();
        for (auto const& dot : pageIndicators_) ready = ready && dot.isReady();
        for (auto const& page : pages_) ready = ready && page.isReady();
        if (ready) {
            state_ = 2;
            slideInSound_.play();
            slide_.value = 0.0f;
            slide_.running = 1;
        }
        break;
    }
    case 2:
        if (slide_.running == 2) {
            backButton_.popIn().animation().start();
            state_ = 3;
        }
        if (slide_.running == 1) advance(slide_, dt);
        refresh(dt);
        break;
    case 3:
        if (backButton_.popIn().animation().isShown()) {
            state_ = 4;
            indicatorDrop_.value = 0.0f;
            indicatorDrop_.running = 1;
        }
        backButton_.update(dt);
        refresh(dt);
        break;
    case 4:
        if (indicatorDrop_.running == 1)
            advance(indicatorDrop_, dt);
        else if (indicatorDrop_.running == 2) {
            state_ = 5;
            logScreen("LevelSelectMenu");
        }
        refresh(dt);
        break;
    case 5:
        backButton_.update(dt);
        refresh(dt);
        focus_->updateHighlight();
        for (auto* box : {bonusHintBox_.get(), tutorialBox_.get(), downloaderBox_.get()}) box->update(dt);
        break;
    case 7:
        if (slide_.running == 2 && backButton_.popIn().animation().isHidden()) {
            state_ = 8;
            scroller_.update(dt);
            if (back_) back_();  // the owner may act on the closed menu: nothing after this
            return;
        }
        if (slide_.running == 1) advance(slide_, dt);
        backButton_.update(dt);
        break;
    default:
        break;
    }
    scroller_.update(dt);
}

void LevelSelectMenu::preDraw() {
    place(slide_);
    place(indicatorDrop_);
    backButton_.preDraw();
    for (auto& page : pages_) page.preDraw();
    if (scroller_.pageSize() && !scroller_.isDragging() && !pageIndicators_.empty()) {
        for (auto& dot : pageIndicators_) dot.select(0);
        // A fling past the rubber band can reach a page that does not exist.
        int64_t const page = std::llabs(int64_t(scroller_.currentPage().value_or(0)));
        pageIndicators_[size_t(std::min<int64_t>(page, int64_t(pageIndicators_.size()) - 1))].select(1);
    }
    for (auto* box : {bonusHintBox_.get(), tutorialBox_.get(), downloaderBox_.get()}) box->preDraw();
}

void LevelSelectMenu::draw(Graphics::Context* graphics, Graphics::StandardShader* shader,
                           glm::mat4 const& projection) {
    if (state_ > 1) {
        graphics->setBlend(true);
        float const x = slide_.current;
        float const alpha = std::clamp(1.0f - x / virtualWidth(), 0.0f, 1.0f);
        shader->use(1);
        shader->setColor(glm::vec4(alpha));
        shader->setPVM(glm::translate(projection, glm::vec3(x, indicatorDrop_.current, 0.0f)));
        for (auto const& dot : pageIndicators_) dot.draw(*shader);
        int64_t const n = int64_t(pages_.size());
        if (n > 0) {
            float const offset = scroller_.offset();
            int64_t const c = std::clamp<int64_t>(int64_t(std::lround(-offset / kPageWidth)), 0, n - 1);
            int64_t const reach = virtualWidth() > 1280.0f ? 2 : 1;
            auto drawPage = [&](int64_t i) {
                if (i < 0 || i >= n) return;
                float const shift = offset + kPageWidth * float(i);
                // Words fade out by half a page from the centre.
                float const textAlpha = alpha * std::clamp(1.0f - 2.0f * std::abs(shift) / kPageWidth, 0.0f, 1.0f);
                pages_[size_t(i)].draw(graphics, shader, glm::translate(projection, glm::vec3(x + shift, 0, 0)), alpha,
                                       textAlpha);
            };
            drawPage(c);
            for (int64_t d = 1; d <= reach; ++d) {
                drawPage(c - d);
                drawPage(c + d);
            }
        }
        shader->use(0);
        shader->setPVM(projection);
        backButton_.draw(shader);
    }
    for (auto* box : {bonusHintBox_.get(), tutorialBox_.get(), downloaderBox_.get()})
        box->draw(graphics, shader, projection);
}

template <class F>
bool LevelSelectMenu::toActivePopUp(F&& f, bool bonusFirst) {
    ConfirmationBox* order[] = {tutorialBox_.get(), bonusHintBox_.get(), downloaderBox_.get()};
    if (bonusFirst) std::swap(order[0], order[1]);
    for (auto* box : order)
        if (box->isActive()) {
            f(*box);
            return true;
        }
    return false;
}

void LevelSelectMenu::touchBegan(glm::vec2 const& point, unsigned touch) {
    if (state_ != 5) return;
    if (toActivePopUp([&](ConfirmationBox& b) { b.touchBegan(point, touch); })) return;
    if (backButton_.touchBegan(point, touch)) return;
    if (scroller_.pageSize())
        for (size_t i = 0; i < pages_.size(); ++i)
            pages_[i].touchBegan(point - glm::vec2(kPageWidth * float(i) + scroller_.offset(), 0.0f), touch);
    if (state_ == 5) scroller_.touchBegan(point);
}

void LevelSelectMenu::touchMoved(glm::vec2 const& point, unsigned touch) {
    if (state_ != 5) return;
    if (toActivePopUp([&](ConfirmationBox& b) { b.touchMoved(point, touch); })) return;
    if (backButton_.touchMoved(point, touch)) return;
    if (scroller_.pageSize())
        for (size_t i = 0; i < pages_.size(); ++i)
            pages_[i].touchMoved(point - glm::vec2(kPageWidth * float(i) + scroller_.offset(), 0.0f), touch);
    scroller_.touchMoved(point);
}

void LevelSelectMenu::touchEnded(glm::vec2 const& point, unsigned touch) {
    if (state_ != 5) return;
    if (toActivePopUp([&](ConfirmationBox& b) { b.touchEnded(point, touch); })) return;
    if (backButton_.touchEnded(point, touch)) return;
    if (scroller_.pageSize()) {
        float const offset = scroller_.offset();
        // A tile's activation can start a level: the owner's screen may be handed over, so
        // pages are left alone once the state moved on.
        for (size_t i = 0; i < pages_.size() && state_ == 5; ++i)
            pages_[i].touchEnded(point - glm::vec2(kPageWidth * float(i) + offset, 0.0f), touch);
    }
    scroller_.touchEnded(point);
}

void const* LevelSelectMenu::inputTaker() const {
    if (state_ != 5) return nullptr;
    for (ConfirmationBox const* box : {tutorialBox_.get(), bonusHintBox_.get(), downloaderBox_.get()})
        if (box->isActive()) return box->inputTaker();
    return this;
}

void LevelSelectMenu::gamepadInput(GamepadState const& state) {
    if (state_ != 5) return;
    if (toActivePopUp([&](ConfirmationBox& b) { b.gamepadInput(state); })) return;
    if (!state.buttonB) {
        uint64_t const before = focus_->focused();
        focus_->gamepadInput(state);
        uint64_t const after = focus_->focused();
        if (after == before) return;
        auto pageOf = [this](uint64_t node) -> int64_t {
            LevelTileButton const* tile = focusTile(node);
            for (size_t p = 0; p < pages_.size(); ++p)
                for (auto const& t : pages_[p].tiles)
                    if (&t == tile) return int64_t(p);
            return -1;
        };
        int64_t const from = pageOf(before), to = pageOf(after);
        if (from != to && to >= 0) scroller_.scrollToPage(-int32_t(to));
        return;
    }
    if (backButton_.button().activate()) backButton_.popIn().animation().dismiss();
}

void LevelSelectMenu::buttonPressed(unsigned code) {
    if (code != ViewController::buttonPause || state_ != 5) return;
    // The pop-up alone answers it; the menu behind stays open.
    if (toActivePopUp([&](ConfirmationBox& b) { b.buttonPressed(code); }, true)) return;
    backButton_.popIn().animation().dismiss();
    slideOut();
}
