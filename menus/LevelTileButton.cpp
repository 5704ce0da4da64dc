#include "menus/LevelTileButton.h"

#include <string>

#include "fonts/Context.h"
#include "graphics/ScreenAnchor.h"
#include "os/Assets.h"
#include "os/services/PlatformServices.h"

namespace {

glm::vec2 screenCentre() { return glm::vec2(virtualWidth(), virtualHeight()) / 2.0f; }

TextureDescriptor const& noImage() {
    static TextureDescriptor const none;
    return none;
}
TextureDescriptor const& baseImage(uint8_t kind) {
    return kind == 0 ? Assets::texMenusButtonsLevelbuttonBlackNormal
           : kind <= 2 ? Assets::texMenusButtonsLevelbuttonPurpleNormal
                       : noImage();
}
TextureDescriptor const& litImage(uint8_t kind) {
    return kind == 0 ? Assets::texMenusButtonsLevelbuttonBlackLit
           : kind <= 2 ? Assets::texMenusButtonsLevelbuttonPurpleLit
                       : noImage();
}
TextureDescriptor const& starBackdrop(uint8_t kind) {
    return kind == 0 ? Assets::texMenusLevelselectMinistarBackground
           : kind <= 2 ? Assets::texMenusLevelselectMinistarBackgroundBonus
                       : noImage();
}

Sprite centred(Graphics::Context* graphics, TextureDescriptor const& texture, glm::vec2 const& offset) {
    return Sprite(Graphics::Texture(graphics, texture), kAnchorCenter, offset, std::nullopt, glm::vec2(1.0f));
}

AnimatedButton tileButton(Graphics::Context* graphics, Audio::Context* audio, glm::vec2 const& position, uint8_t kind,
                          std::function<bool()> const& activation) {
    boost::optional<SoundDescriptor const&> const click(Assets::sndDravoMenuButtonSelectLevel);
    boost::optional<TextureDescriptor const&> const base(baseImage(kind));
    glm::vec3 const style(0.0f);
    Button::Parameters const p{Assets::hitMenusButtonsLevelbutton, click, base, litImage(kind), boost::none,
                               boost::none, activation, style, 1, 0};
    return AnimatedButton(graphics, audio, screenCentre() + position, p);
}

}  // namespace

LevelTileButton::LevelTileButton(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                                 uint8_t const& goalFlags, TextureDescriptor const& label, glm::vec2 const& position,
                                 uint8_t kind, bool highlighted, std::function<bool()> const& activation,
                                 uint64_t requiredStars, uint64_t collectedStars, bool showStarSlots,
                                 uint64_t catalogIndex)
    : button_(tileButton(graphics, audio, position, kind, activation)),
      label_(centred(graphics, label, position + glm::vec2(-4.0f, 5.0f))),
      catalogIndex_(catalogIndex) {
    // Unsigned on purpose: no required stars always shows the slots.
    if (showStarSlots && requiredStars - 1 >= collectedStars)
        starSlots_.emplace(centred(graphics, starBackdrop(kind), position + glm::vec2(-3.0f, -52.0f)));
    if (goalFlags & 1) starLeft_.emplace(centred(graphics, Assets::texMenusLevelselectMinistar, position + glm::vec2(-36.0f, -52.0f)));
    if (goalFlags & 2) starMiddle_.emplace(centred(graphics, Assets::texMenusLevelselectMinistar, position + glm::vec2(-3.0f, -52.0f)));
    if (goalFlags & 4) starRight_.emplace(centred(graphics, Assets::texMenusLevelselectMinistar, position + glm::vec2(30.0f, -52.0f)));
    if (collectedStars < requiredStars)
        counter_.emplace(std::to_string(collectedStars) + fonts->localizedString("slash") + std::to_string(requiredStars),
                         screenCentre() + position + glm::vec2(17.0f, -63.0f),
                         fonts->font(Fonts::FontStyle::regularNeon), 1, 1.0f);
    if (highlighted) button_.button().setHighlighted(true);
}

void LevelTileButton::draw(Graphics::StandardShader* shader) const {
    if (starSlots_) starSlots_->draw(*shader);
    button_.draw(shader);
    label_.draw(*shader);
    for (auto const* star : {&starLeft_, &starMiddle_, &starRight_})
        if (*star) (*star)->draw(*shader);
}

bool LevelTileButton::isReady() const {
    if (!button_.button().isReady() || !label_.isReady()) return false;
    for (auto const* sprite : {&starSlots_, &starLeft_, &starMiddle_, &starRight_})
        if (*sprite && !(*sprite)->isReady()) return false;
    return true;
}

void LevelTileButton::drawCounter(Fonts::TextMesh& mesh) const {
    if (counter_) counter_->draw(mesh, glm::vec2(0.0f), glm::vec4(1.0f), glm::mat4(1.0f));
}
