#include "menus/LevelSelectPage.h"

#include <bit>
#include <cfloat>

#include "fonts/Context.h"
#include "fonts/TextLabel.h"
#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "level/LevelCatalog.h"
#include "os/Assets.h"
#include "os/services/PlatformServices.h"
#include "os/services/GameCenter.h"
#include "save/RoamingData.h"

namespace {

char const* headerKey(char act) {
    static char const* const keys[] = {"act1Header", "act2Header", "act3Header", "act4Header", "act5Header"};
    return act >= '1' && act <= '5' ? keys[act - '1'] : keys[0];
}

// Entries past the catalog's levels and goal bits above the three goals mean nothing here.
bool completed(RoamingData const& save, uint64_t index) {
    return index < LevelCatalog::count() && save.hasLevelEntry(static_cast<uint32_t>(index));
}
uint8_t goalFlags(RoamingData const& save, uint64_t index) {
    auto const it = save.findLevelEntry(static_cast<uint32_t>(index));
    return it != save.levelEntries().end() && it->levelId() == index ? uint8_t(it->goalFlags() & 7) : 0;
}
uint8_t kindOf(LevelCatalog::Entry const& e) { return static_cast<uint8_t>(e.mode); }

}  // namespace

void LevelSelectPage::draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& matrix,
                           float alpha, float textAlpha) const {
    shader->use(1);
    shader->setPVM(matrix);
    shader->setColor(glm::vec4(alpha));
    map.draw(*shader);
    for (auto const& tile : tiles)
        if (tile.isReady()) tile.draw(shader);
    shader->use(3);
    shader->setPVM(matrix);
    counters.draw(graphics, shader, glm::vec4(alpha));
    if (textAlpha > 0.0f) text.draw(graphics, shader, glm::vec4(textAlpha));
}

void LevelSelectPage::update(float dt) {
    for (auto& tile : tiles) tile.update(dt);
}
void LevelSelectPage::preDraw() {
    for (auto& tile : tiles) tile.preDraw();
}
void LevelSelectPage::touchBegan(glm::vec2 const& point, unsigned touch) {
    for (auto& tile : tiles) tile.touchBegan(point, touch);
}
void LevelSelectPage::touchMoved(glm::vec2 const& point, unsigned touch) {
    for (auto& tile : tiles) tile.touchMoved(point, touch);
}
void LevelSelectPage::touchEnded(glm::vec2 const& point, unsigned touch) {
    for (auto& tile : tiles) tile.touchEnded(point, touch);
}
bool LevelSelectPage::isReady() const {
    for (auto const& tile : tiles)
        if (!tile.isReady()) return false;
    return true;
}

LevelSelectPage levelSelectItems(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                                 std::function<bool(std::string const&, std::string const&)> const& onLevelChosen,
                                 std::function<void()> const& showBonusHint, char act, RoamingData const& save,
                                 boost::optional<unsigned long> const& selectedLevel) {
    LevelSelectPage page(act, Sprite(Graphics::Texture(graphics, Assets::actMapTexture(act)), kAnchorCenter,
                                     glm::vec2(2.0f, -16.0f), std::nullopt, glm::vec2(1.0f)));
    uint64_t const count = LevelCatalog::count();
    uint64_t stars = 0;
    uint64_t previousMain = UINT64_MAX;  // none yet
    for (uint64_t i = 0; i < count; ++i) {
        auto const& e = LevelCatalog::entry(i);
        bool const main = kindOf(e) == 0;
        if (main && e.act == act) {
            bool const c = completed(save, i), n = completed(save, i + 1);
            bool const highlighted = selectedLevel ? *selectedLevel == i : !c;
            if (previousMain == UINT64_MAX || completed(save, previousMain)) {
                uint8_t const flags = c ? goalFlags(save, i) : 0;
                std::string const path = e.path, name = e.nameKey;
                page.tiles.emplace_back(graphics, audio, fonts, flags, Assets::levelButtonTextTexture(e.buttonLabel),
                                        glm::vec2(e.mapX, e.mapY), 0, highlighted,
                                        [onLevelChosen, path, name] { return onLevelChosen(path, name); }, 0, 0, c, i);
            }
            if (c) stars += uint64_t(std::popcount(unsigned(goalFlags(save, i))));
            if (!c && !n) break;
        }
        if (main) previousMain = i;
    }
    for (uint64_t i = 0; i < count; ++i) {
        auto const& e = LevelCatalog::entry(i);
        uint8_t const kind = kindOf(e);
        if (e.act != act || (kind != 1 && kind != 2)) continue;
        bool const unlocked = stars >= e.starsToUnlock;
        if (unlocked && act >= '1' && act <= '4') {
            AchievementReport const report{uint64_t(16 + (act - '1')), 100.0};
            reportAchievements(&report, 1);
        }
        std::string const path = e.path, name = e.nameKey;
        std::function<bool()> activation = [onLevelChosen, path, name] { return onLevelChosen(path, name); };
        if (!unlocked) activation = [showBonusHint] {
            if (showBonusHint) showBonusHint();
            return false;
        };
        page.tiles.emplace_back(graphics, audio, fonts, uint8_t(0),
                                unlocked ? Assets::levelButtonTextTexture(e.buttonLabel)
                                         : Assets::texMenusLevelselectButtontextPadlock,
                                glm::vec2(e.mapX, e.mapY), kind, false, activation, e.starsToUnlock, stars, !unlocked, i);
    }
    page.header = fonts->localizedString(headerKey(act));
    TextLabel const header(page.header, glm::vec2(virtualWidth(), virtualHeight()) / 2.0f + glm::vec2(2.0f, 191.0f),
                           fonts->font(Fonts::FontStyle::mesquiteSmallHeader), 1, 1.0f);
    header.draw(page.text, glm::vec2(0.0f), glm::vec4(0.25f, 0.2f, 0.2f, 1.0f), glm::mat4(1.0f));
    for (auto const& tile : page.tiles) tile.drawCounter(page.counters);
    // Settled at once, without the grow animation; FLT_MAX relies on IEEE arithmetic.
    for (auto& tile : page.tiles) {
        tile.startPopIn();
        for (int guard = 0; !tile.isPopInShown() && guard < 64; ++guard) tile.update(FLT_MAX);
    }
    return page;
}
