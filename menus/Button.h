#pragma once
// The touch widget of every menu: an optional base image under a highlight image, a touch
// rectangle from a hit-area asset, a click sound, and an action run on activation by a touch
// or a controller. An activated button ignores everything until reset, so its action runs at
// most once per activation.
#include <boost/optional.hpp>
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <cstdint>
#include <functional>
#include <string>

#include "audio/Sound.h"
#include "fonts/Font.h"
#include "fonts/Rect.h"
#include "fonts/TextMesh.h"
#include "graphics/Quad.h"
#include "graphics/Sprite.h"
#include "os/SoundDescriptor.h"
#include "os/TextureDescriptor.h"

namespace Audio {
class Context;
}
namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

class Button {
public:
    // Refers to the caller's strings and descriptors, which must outlive the construction.
    struct Parameters {
        std::string const& hitArea;
        boost::optional<SoundDescriptor const&> const& clickSound;
        boost::optional<TextureDescriptor const&> const& baseImage;
        TextureDescriptor const& highlightImage;
        boost::optional<Fonts::Font> labelFont;
        boost::optional<std::string> labelText;
        // Returning false refuses the activation.
        std::function<bool()> onActivate;
        // Relative to the button's centre.
        glm::vec3 const& labelPosition;
        uint8_t drawBaseWhenPressed;
        // Click before running the action whatever it returns; otherwise only after it agreed.
        uint8_t clickBeforeAction;
    };

    // The images are centred on imageCentre; the touch rectangle is placed by hitCentre.
    Button(Graphics::Context* graphics, Audio::Context* audio, glm::vec2 const& imageCentre,
           glm::vec2 const& hitCentre, Parameters const& parameters);

    // True while this touch holds the button.
    bool touchBegan(glm::vec2 const& point, unsigned touch);
    bool touchMoved(glm::vec2 const& point, unsigned touch);
    // True when this touch activated the button.
    bool touchEnded(glm::vec2 const& point, unsigned touch);
    // Activation without a touch (controller focus, pause button); true when it activated.
    bool activate();
    void reset() { pressed_ = activated_ = 0; }
    bool isPressed() const { return pressed_ != 0; }
    bool isActivated() const { return activated_ != 0; }

    void setHighlighted(bool on) { highlighted_ = on ? 1 : 0; }
    bool isHighlighted() const { return highlighted_ != 0; }
    float highlight() const { return highlight_; }
    // The highlight pulse; while focused it stays at or above kFocusFloor once it got there.
    void update(float dt);
    static constexpr float kFocusFloor = 0.6f;

    // The caller has chosen a colour mode of the shader and its matrix.
    void draw(Graphics::StandardShader* shader) const { drawWithQuad(shader, quad()); }
    void drawWithQuad(Graphics::StandardShader* shader, Quad const& quad) const;
    // Lays the label out centred at its position, when it has a font and a text.
    void drawLabel(Fonts::TextMesh& mesh, glm::mat4 const& transform) const;

    // The base image's quad when there is one, else the highlight image's.
    Quad& quad() { return baseSprite_ ? baseSprite_->quad() : highlightSprite_.quad(); }
    Quad const& quad() const { return baseSprite_ ? baseSprite_->quad() : highlightSprite_.quad(); }
    std::function<bool()>& onActivate() { return onActivate_; }
    Rect const& hitRect() const { return hitRect_; }
    boost::optional<Sound>& clickSound() { return clickSound_; }
    // Every image is on the GPU; menus wait for it before they appear.
    bool isReady() const;

private:
    bool runActivation();

    boost::optional<Sound> clickSound_;
    boost::optional<Sprite> baseSprite_;
    Sprite highlightSprite_;
    boost::optional<Fonts::Font> labelFont_;
    boost::optional<std::string> labelText_;
    glm::vec3 labelPosition_;
    Rect hitRect_;
    uint8_t pressed_ = 0;
    uint8_t activated_ = 0;
    std::function<bool()> onActivate_;
    uint8_t drawBaseWhenPressed_;
    uint8_t clickBeforeAction_;
    uint8_t highlighted_ = 0;
    float highlight_ = 0.0f;
    float highlightSpeed_ = 0.0035f;
};
