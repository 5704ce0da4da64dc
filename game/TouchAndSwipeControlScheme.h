#pragma once
// A floating slider under the left thumb, and vertical swipes on the right half for jump (up)
// and dive (down). Distances scale with the screen's density, s = virtual pixels per inch / 366.75.
#include "game/ControlScheme.h"
#include "graphics/Sprite.h"

class TouchAndSwipeControlScheme : public ControlScheme {
public:
    explicit TouchAndSwipeControlScheme(Graphics::Context* graphics);

    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& hudMatrix,
              float alpha) override;
    void touchMoved(glm::vec2 const& point, uint32_t touch) override;
    void touchBegan(glm::vec2 const& point, uint32_t touch) override;
    void touchEnded(glm::vec2 const& point, uint32_t touch) override;
    InputState& inputState() override { return input_; }
    void reset() override;
    void update(float dt) override;
    void setStickVisible(bool visible) override { visible_ = visible; }
    char const* controlsHintKey() const override { return "tutorialSwipeHint"; }

    uint32_t touchCount() const { return touchCount_; }
    bool stickActive() const { return stickActive_; }
    bool swipeActive() const { return swipeActive_; }
    float stickCentreX() const { return stickCentreX_; }
    float swipeRefY() const { return swipeRefY_; }
    float scale() const { return scale_; }
    float radius() const { return radius_; }
    float stickAlpha() const { return stickAlpha_; }
    glm::vec2 drawPos() const { return drawPos_; }

private:
    void fullReset();

    InputState input_{0, 0, 0, 0, 1.0f};
    uint32_t touchCount_ = 0;
    bool stickActive_ = false;
    glm::vec2 stickTouch_{0.0f};
    float stickCentreX_ = 0.0f;
    float splitX_;
    bool swipeActive_ = false;
    float swipeRefY_ = 0.0f;
    float scale_;
    float radius_;
    float swipeStep_;
    float leftMargin_;
    Sprite backLeft_;
    Sprite backRight_;
    Sprite backMid_;
    Sprite indicator_;
    Sprite stopLeft_;
    Sprite stopRight_;
    float drawMarginX_;
    float drawMarginY_ = 128.0f;
    glm::vec2 drawPos_{0.0f};
    float stickAlpha_ = 0.0f;
    float indicatorSide_ = 0.0f;
    bool lowEnd_;
    bool visible_ = true;
};
