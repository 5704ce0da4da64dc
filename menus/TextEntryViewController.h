#pragma once
// The one-line text field as the game draws it over the running screen: the screen dimmed, and a
// white field a third of the way down with the text typed so far (or the placeholder in grey).
// Both fade in and out over 0.3 s. What it shows comes from the keyboard that edits the field; a
// tap on the dimmed background or on the field is handed back to it.
#include <glm/vec2.hpp>

#include <functional>
#include <memory>
#include <string>

#include "fonts/Font.h"
#include "fonts/TextMesh.h"
#include "graphics/Quad.h"
#include "menus/DimmedBackdrop.h"
#include "os/ViewController.h"

namespace Fonts {
class Context;
}

class TextEntryViewController : public ViewController {
public:
    static constexpr float kFieldWidth = 500.0f;
    static constexpr float kFieldHeight = 70.0f;
    static constexpr float kFadeMs = 300.0f;

    // Shared with the keyboard, which changes it; the view reads it every frame.
    struct Field {
        std::string text;
        std::string placeholder;
        bool shown = false;     // fading in, or out
        bool hasField = true;   // false once the field is released: the background alone
    };
    struct Taps {
        std::function<void()> background;
        std::function<void()> field;
        // Faded out completely after the field stopped being shown.
        std::function<void()> faded;
    };

    TextEntryViewController(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                            std::shared_ptr<Field const> field, Taps taps);

    // The end of text that fits in width (whole characters, from the back).
    static std::string tailThatFits(std::string const& text, Fonts::Font font, float width);

    void update(Audio::Context& audio, float dt, float now) override;
    void preDraw(Graphics::Context* graphics) override;
    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void touchBegan(glm::vec2 const& point, uint32_t tapCount) override;
    void touchMoved(glm::vec2 const&, uint32_t) override {}
    void touchEnded(glm::vec2 const& point, uint32_t tapCount) override;
    void buttonPressed(uint32_t) override {}

    float alpha() const { return alpha_; }
    // The field's rectangle in virtual pixels.
    glm::vec2 fieldLow() const { return fieldCentre_ - glm::vec2(kFieldWidth, kFieldHeight) / 2.0f; }
    glm::vec2 fieldHigh() const { return fieldCentre_ + glm::vec2(kFieldWidth, kFieldHeight) / 2.0f; }

private:
    bool inField(glm::vec2 const& point) const;

    std::shared_ptr<Field const> field_;
    Taps taps_;
    Fonts::Font font_;
    glm::vec2 fieldCentre_;
    DimmedBackdrop backdrop_;
    Quad box_;
    Fonts::TextMesh textMesh_;
    std::string laidOut_;
    bool laidOutPlaceholder_ = false;
    bool laidOutOnce_ = false;
    float alpha_ = 0.0f;
    bool tapInField_ = false;
    bool tapStarted_ = false;
};
