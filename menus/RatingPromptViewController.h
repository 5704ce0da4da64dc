#pragma once
// The rating question, drawn by the game over whatever screen is up: a dark panel with the title,
// the message and two or three answers (no, rate, and rate later when offered). B or the pause
// button picks the first ("no"). onChoice gets the answer's index once; the owner then dismisses
// the view.
#include <functional>
#include <optional>
#include <string>

#include "fonts/Font.h"
#include "menus/DimmedPanelViewController.h"

namespace Fonts {
class Context;
}

class RatingPromptViewController : public DimmedPanelViewController {
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
};
