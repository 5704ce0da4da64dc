#pragma once
// The modal pop-up: a panel with a message and one or two answer buttons, optionally over a
// darkened screen. It pops in piece by piece (panel, affirmative, negative), takes touches,
// controller focus and the pause button only once fully shown, and pops out in reverse order.
// The buttons' actions point back at the box, so a box stays where it was built.
#include <boost/optional.hpp>
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>

#include <cstdint>
#include <functional>
#include <string>

#include "audio/Sound.h"
#include "fonts/TextLabel.h"
#include "fonts/TextMesh.h"
#include "graphics/Quad.h"
#include "graphics/Texture.h"
#include "menus/AnimatedButton.h"
#include "menus/FocusNavigator.h"
#include "menus/PopInSprite.h"
#include "os/services/PlatformServices.h"

namespace Fonts {
class Context;
}

class ConfirmationBox {
public:
    // The first four fields refer to the caller's objects, which must live until the box is
    // built. Texts are already localized; the message may hold "\n" line breaks.
    struct Parameters {
        // Of the panel and the buttons from the screen centre.
        glm::vec2 const& offset;
        std::string const& message;
        std::string const& affirmative;
        // Without it the box has one button.
        boost::optional<std::string const&> negative;
        std::function<void()> onAffirmative;
        std::function<void()> onNegative;
        bool dimBackground;
    };

    enum State : uint32_t {
        kHidden = 0,
        kWaitingForTextures = 1,
        kPanelPopping = 2,
        kAffirmativePopping = 3,
        kSettling = 4,
        kInteractive = 5,
        kClosingNegative = 6,
        kClosingAffirmative = 7,
        kClosingPanel = 8,
    };

    ConfirmationBox(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                    Parameters const& parameters);
    // An answer button as the box draws it, for other panels that answer the same way.
    static AnimatedButton answerButton(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                                       glm::vec2 const& position, std::string const& text,
                                       std::function<bool()> action);
    ConfirmationBox(ConfirmationBox const&) = delete;
    ConfirmationBox& operator=(ConfirmationBox const&) = delete;

    // Opens as soon as the textures are there, from any state, on its default answer (the
    // negative one when there is one).
    void show();
    // Closes (after an affirmative answer; a negative answer closes by itself).
    void close();
    // The panel only (the download overlay keeps its own buttons).
    void dismissPanel() { panel_.popIn().animation().dismiss(); }
    // Opening, shown or closing: owners send their input here while it is true.
    bool isActive() const { return state_ != kHidden; }
    bool isHidden() const { return state_ == kHidden; }
    bool isReady() const;
    uint32_t state() const { return state_; }
    // The box while it is shown and takes the controller; null while it opens or closes, when
    // nothing takes it.
    void const* inputTaker() const { return state_ == kInteractive ? this : nullptr; }

    void update(float dt);
    void preDraw();
    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection);

    void touchBegan(glm::vec2 const& point, unsigned touch);
    void touchMoved(glm::vec2 const& point, unsigned touch);
    void touchEnded(glm::vec2 const& point, unsigned touch);
    void gamepadInput(GamepadState const& state);
    // Only the controller's pause button: the negative answer, or the affirmative one when
    // there is no negative.
    void buttonPressed(unsigned code);

    // Owners that reuse one box for several questions set the answers before show.
    std::function<void()>& onAffirmative() { return onAffirmative_; }
    std::function<void()>& onNegative() { return onNegative_; }

    TextLabel const& message() const { return message_; }
    PopInSprite& panel() { return panel_; }
    AnimatedButton& affirmativeButton() { return affirmativeButton_; }
    boost::optional<AnimatedButton>& negativeButton() { return negativeButton_; }
    FocusNavigator& focus() { return focus_; }

private:
    bool negativeShownAndReady() const;
    // The focus node of the negative answer, or of the only one.
    uint64_t defaultAnswer() const { return negativeButton_ ? 1u : 0u; }

    std::function<void()> onAffirmative_;
    std::function<void()> onNegative_;
    Sound openSound_;
    PopInSprite panel_;
    Quad backdropQuad_;
    Graphics::Texture backdropTexture_;
    uint32_t state_ = kHidden;
    float timer_ = 0.0f;
    TextLabel message_;
    Fonts::TextMesh messageMesh_;
    Fonts::TextMesh labelMesh_;
    boost::optional<AnimatedButton> negativeButton_;
    AnimatedButton affirmativeButton_;
    FocusNavigator focus_;
    uint8_t dimBackground_;
    // The matrices the labels were last laid out with: a steady box lays nothing out again.
    glm::mat4 labelMatrices_[2]{glm::mat4(0.0f), glm::mat4(0.0f)};
    bool labelsLaidOut_ = false;
};

// Asks the app frame to show a question over the running screen.
using ShowConfirmationBoxCallback = std::function<void(ConfirmationBox::Parameters const&)>;
