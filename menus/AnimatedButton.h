#pragma once
// A Button that pops in and shrinks away once a touch activated it. Its images are drawn on a
// quad transformed by the pop-in matrix; its touch area stays the rectangle at rest size.
#include "fonts/TextMesh.h"
#include "graphics/Quad.h"
#include "menus/Button.h"
#include "menus/PopInTransform.h"

class AnimatedButton {
public:
    AnimatedButton(Graphics::Context* graphics, Audio::Context* audio, glm::vec2 const& position,
                   Button::Parameters const& parameters);

    // Nothing before the pop-in has been started.
    void draw(Graphics::StandardShader* shader) const;
    void update(float dt);
    void preDraw();
    void drawLabel(Fonts::TextMesh& mesh) const { button_.drawLabel(mesh, popIn_.matrix()); }

    bool touchBegan(glm::vec2 const& point, unsigned touch) { return button_.touchBegan(point, touch); }
    bool touchMoved(glm::vec2 const& point, unsigned touch) { return button_.touchMoved(point, touch); }
    bool touchEnded(glm::vec2 const& point, unsigned touch);

    PopInTransform& popIn() { return popIn_; }
    PopInTransform const& popIn() const { return popIn_; }
    Button& button() { return button_; }
    Button const& button() const { return button_; }
    Quad const& quad() const { return quad_; }

private:
    Button button_;
    Quad quad_;
    PopInTransform popIn_;
};
