#pragma once
// One on/off option row: a bar, the checked or unchecked button (whichever shows the current
// value), a label and a focus button that only carries the controller highlight.
#include <cstdint>

#include "fonts/TextLabel.h"
#include "fonts/TextMesh.h"
#include "graphics/Sprite.h"
#include "menus/Button.h"
#include "os/services/PlatformServices.h"

class OptionCheckbox {
public:
    OptionCheckbox(uint64_t kind, Sprite const& bar, Button&& unchecked, Button&& checked, TextLabel const& label,
                   bool isChecked, Button&& focus);

    void touchBegan(glm::vec2 const& point, unsigned touch) { visible().touchBegan(point, touch); }
    void touchMoved(glm::vec2 const& point, unsigned touch) { visible().touchMoved(point, touch); }
    void touchEnded(glm::vec2 const& point, unsigned touch) { visible().touchEnded(point, touch); }
    void draw(Graphics::StandardShader* shader) const;
    void drawText(Fonts::TextMesh& mesh) const;
    void update(float dt) { focus_.update(dt); }
    bool isReady() const { return unchecked_.isReady() && checked_.isReady() && focus_.isReady(); }
    bool isChecked() const { return checked != 0; }
    uint64_t kind() const { return kind_; }
    void toggle() { checked = checked ? 0 : 1; }
    Button& focusButton() { return focus_; }
    // A new A press while the focus button is highlighted activates the visible button.
    void gamepadInput(GamepadState const& state);

private:
    Button& visible() { return checked ? checked_ : unchecked_; }

    uint64_t kind_;
    Sprite bar_;
    Button unchecked_;
    Button checked_;
    TextLabel label_;
    uint8_t checked;
    Button focus_;
    GamepadState previous_{};
};
