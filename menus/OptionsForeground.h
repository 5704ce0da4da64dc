#pragma once
// The option widgets of the options menu: the control scheme as a left/right selector (touch
// screens only) and subtitles as a checkbox. Values are read from the save record when built and
// written back the moment they change.
#include <cstdint>
#include <functional>
#include <vector>

#include "audio/Sound.h"
#include "menus/FocusNavigator.h"
#include "menus/LeftRightSelector.h"
#include "menus/OptionCheckbox.h"

namespace Fonts {
class Context;
}

class OptionsForeground {
public:
    enum class OptionWidgetType : uint32_t { LeftRight = 0, Checkbox = 1 };
    enum OptionKind : uint64_t { Subtitles = 1, ControlScheme = 2 };

    // p places images and texts, q the touch areas. optionKinds must build at least one widget.
    OptionsForeground(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                      unsigned long optionKinds, glm::vec2 const& p, glm::vec2 const& q);
    OptionsForeground(OptionsForeground const&) = delete;
    OptionsForeground& operator=(OptionsForeground const&) = delete;

    bool onOptionChanged(bool stepBack, unsigned long widgetIndex, OptionWidgetType type);
    // Sets without sound, callback or saving.
    void setCheckboxState(unsigned long kind, bool checked);

    void update(float dt);
    void drawText(Fonts::TextMesh& mesh) const;
    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& matrix) const;
    void touchBegan(glm::vec2 const& point, unsigned touch);
    void touchMoved(glm::vec2 const& point, unsigned touch);
    void touchEnded(glm::vec2 const& point, unsigned touch);
    void gamepadInput(GamepadState const& state);
    bool isReady() const;

    std::vector<LeftRightSelector>& selectors() { return selectors_; }
    std::vector<OptionCheckbox>& checkboxes() { return checkboxes_; }
    FocusNavigator& focus() { return *focus_; }

private:
    std::function<bool(bool, unsigned long, OptionWidgetType)> onChange_;
    std::vector<LeftRightSelector> selectors_;
    std::vector<OptionCheckbox> checkboxes_;
    Sound toggleSound_;
    boost::optional<FocusNavigator> focus_;
    [[maybe_unused]] Audio::Context* audio_;
};
