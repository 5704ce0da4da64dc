#pragma once
// A question or board drawn by the game over whatever screen is up: that screen dimmed, and a
// dark panel at the centre with the view's labels and answers. The screen under it keeps running
// and drawing; the app frame sends it the input while it is up. A touch on an answer, or A on the
// focused one, picks it; B or the pause button picks the first. The view's onChoice gets the
// answer's index once; the owner then dismisses the view.
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "fonts/TextLabel.h"
#include "fonts/TextMesh.h"
#include "graphics/Quad.h"
#include "menus/AnimatedButton.h"
#include "menus/DimmedBackdrop.h"
#include "menus/FocusNavigator.h"
#include "os/ViewController.h"

class DimmedPanelViewController : public ViewController {
public:
    DimmedPanelViewController(DimmedPanelViewController const&) = delete;
    DimmedPanelViewController& operator=(DimmedPanelViewController const&) = delete;

    void update(Audio::Context& audio, float dt, float now) override;
    void preDraw(Graphics::Context* graphics) override;
    // Draws straight over the finished frame.
    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void touchBegan(glm::vec2 const& point, uint32_t tapCount) override;
    void touchMoved(glm::vec2 const& point, uint32_t tapCount) override;
    void touchEnded(glm::vec2 const& point, uint32_t tapCount) override;
    void buttonPressed(uint32_t code) override;
    void gamepadInput(GamepadState const& state) override;
    // Nothing takes the input until the view is shown.
    void const* inputTaker() const override { return interactive_ ? this : nullptr; }

    // Shown and taking input (its textures are there).
    bool isInteractive() const { return interactive_; }
    bool isDone() const { return done_; }
    // Layout units to virtual screen pixels.
    glm::mat4 const& layout() const { return layout_; }
    std::vector<AnimatedButton> const& answers() const { return answers_; }
    std::vector<TextLabel> const& labels() const { return labels_; }
    uint64_t focused() const { return focus_.focused(); }

protected:
    // panelSize: in layout units, centred on the layout's origin; the whole view scales down to
    // fit smaller screens. The answers' actions call choose with their index; `focused` has the
    // focus at first. screen: the name logged once the view is shown.
    DimmedPanelViewController(Graphics::Context* graphics, Audio::Context* audio, glm::vec2 panelSize,
                              std::vector<AnimatedButton> answers, size_t focused, char const* screen,
                              std::function<void(int)> onChoice);

    // Ends the view with this answer; the owner may delete it in the call, so nothing may follow.
    void choose(int index);
    // In layout units; a text wider than maxWidth is drawn smaller.
    void addLabel(TextLabel label, glm::vec4 const& colour,
                  float maxWidth = std::numeric_limits<float>::infinity());

private:
    glm::vec2 toLayout(glm::vec2 const& point) const;

    std::function<void(int)> onChoice_;
    char const* screen_;
    DimmedBackdrop backdrop_;
    glm::mat4 layout_;
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
