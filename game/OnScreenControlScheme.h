#pragma once
// Three fixed buttons: a left/right rocker at the bottom left, jump and dive at the bottom right.
// The move amount stays 1.
#include "game/ControlScheme.h"
#include "graphics/Sprite.h"
#include "world/Rect.h"

class OnScreenControlScheme : public ControlScheme {
public:
    explicit OnScreenControlScheme(Graphics::Context* graphics);

    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& hudMatrix,
              float alpha) override;
    void touchMoved(glm::vec2 const& point, uint32_t touch) override;
    void touchBegan(glm::vec2 const& point, uint32_t touch) override;
    void touchEnded(glm::vec2 const& point, uint32_t touch) override;
    InputState& inputState() override { return input_; }
    void reset() override;
    void update(float) override {}
    char const* controlsHintKey() const override { return "tutorialButtonsHint"; }

    Rect const& jumpArea() const { return jumpArea_; }
    Rect const& diveArea() const { return diveArea_; }
    Rect const& leftArea() const { return leftArea_; }
    Rect const& rightArea() const { return rightArea_; }

private:
    void press(glm::vec2 const& point, bool diveFirst);
    InputState input_{0, 0, 0, 0, 1.0f};
    Sprite rocker_;
    Sprite jumpButton_;
    Sprite diveButton_;
    Rect jumpArea_;
    Rect diveArea_;
    Rect leftArea_;
    Rect rightArea_;
    int32_t touchCount_ = 0;
};
