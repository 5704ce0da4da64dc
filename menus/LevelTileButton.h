#pragma once
// One level's tile on a level-select page: the level's number or letter, the star slots with a
// mini star per goal of a completed level, or a locked bonus level's star counter.
#include <boost/optional.hpp>

#include <cstdint>
#include <functional>

#include "fonts/TextLabel.h"
#include "graphics/Sprite.h"
#include "menus/AnimatedButton.h"
#include "os/TextureDescriptor.h"

namespace Fonts {
class Context;
}

class LevelTileButton {
public:
    LevelTileButton(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts, uint8_t const& goalFlags,
                    TextureDescriptor const& label, glm::vec2 const& position, uint8_t kind, bool highlighted,
                    std::function<bool()> const& activation, uint64_t requiredStars, uint64_t collectedStars,
                    bool showStarSlots, uint64_t catalogIndex);

    void update(float dt) { button_.update(dt); }
    void preDraw() { button_.preDraw(); }
    void draw(Graphics::StandardShader* shader) const;
    bool touchBegan(glm::vec2 const& point, unsigned touch) { return button_.touchBegan(point, touch); }
    bool touchMoved(glm::vec2 const& point, unsigned touch) { return button_.touchMoved(point, touch); }
    bool touchEnded(glm::vec2 const& point, unsigned touch) { return button_.touchEnded(point, touch); }
    bool isReady() const;
    bool isHighlighted() const { return button_.button().isHighlighted(); }
    void startPopIn() { button_.popIn().animation().start(); }
    bool isPopInShown() const { return button_.popIn().animation().isShown(); }
    uint64_t catalogIndex() const { return catalogIndex_; }
    void drawCounter(Fonts::TextMesh& mesh) const;

    AnimatedButton& button() { return button_; }
    Sprite const& label() const { return label_; }
    boost::optional<Sprite> const& starSlots() const { return starSlots_; }
    boost::optional<Sprite> const& star(int bit) const { return bit == 0 ? starLeft_ : bit == 1 ? starMiddle_ : starRight_; }
    boost::optional<TextLabel> const& counter() const { return counter_; }

private:
    AnimatedButton button_;
    Sprite label_;
    boost::optional<Sprite> starSlots_;
    boost::optional<Sprite> starLeft_, starMiddle_, starRight_;
    boost::optional<TextLabel> counter_;
    uint64_t catalogIndex_;
};
