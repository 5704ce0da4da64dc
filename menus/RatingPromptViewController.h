#pragma once
// The rating question, drawn by the game over whatever screen is up: a dark panel with the title,
// the message and two or three answers (no, rate, and rate later when offered). The screen under
// it keeps running and drawing; the app frame sends it the input while it is up. A touch on an
// answer, or A on the focused one, picks it; B or the pause button picks the first ("no").
// onChoice gets the answer's index once; the owner then dismisses the view.
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fonts/TextLabel.h"
#include "fonts/TextMesh.h"
#include "graphics/Quad.h"
#include "graphics/Texture.h"
#include "menus/AnimatedButton.h"
#include "menus/FocusNavigator.h"
#include "os/ViewController.h"

namespace Fonts {
class Context;
}

class RatingPromptViewController : public ViewController {
public:
    // Layout units; the whole view scales down to fit smaller screens.
    static constexpr float kPanelWidth = 820.0f;
    static constexpr float kPanelHeight = 320.0f;

    struct Texts {
        std::string title, message, cancel, rate;
        std::optional<std::string> later;
    };

    RatingPromptViewController(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                               Texts const& texts, std::function<void(int)> onChoice);
    RatingPromptViewController(RatingPromptViewController const&) = delete;
    RatingPromptViewController& operator=(RatingPromptViewController const&) = delete;

    // Words of text into lines no wider than maxWidth in this font (a word wider than that gets a
    // line of its own), joined by "\n".
    static std::string wrap(std::string const& text, Fonts::Font font, float maxWidth);

    void update(Audio::Context& audio, float dt, float now) override;
    void preDraw(Graphics::Context* graphics) override;
    // Draws straight over the finished frame.
    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void touchBegan(glm::vec2 const& point, uint32_t tapCount) override;
    void touchMoved(glm::vec2 const& point, uint32_t tapCount) override;
    void touchEnded(glm::vec2 const& point, uint32_t tapCount) override;
    void buttonPressed(uint32_t code) override;
    void gamepadInput(GamepadState const& state) override;

    bool isInteractive() const { return interactive_; }
    bool isDone() const { return done_; }
    // Layout units to virtual screen pixels.
    glm::mat4 const& layout() const { return layout_; }
    std::vector<AnimatedButton> const& answers() const { return answers_; }
    std::vector<TextLabel> const& labels() const { return labels_; }
    uint64_t focused() const { return focus_.focused(); }

private:
    void choose(int index);
    glm::vec2 toLayout(glm::vec2 const& point) const;

    std::function<void(int)> onChoice_;
    glm::mat4 projection_;
    glm::mat4 layout_;
    Graphics::Texture white_;
    Quad backdrop_;
    Quad panel_;
    std::vector<TextLabel> labels_;
    std::vector<glm::vec4> colours_;
    Fonts::TextMesh textMesh_;
    Fonts::TextMesh buttonMesh_;
    bool laidOut_ = false;
    std::vector<AnimatedButton> answers_;
    FocusNavigator focus_;
    bool interactive_ = false;
    bool done_ = false;
};
