#pragma once
// A pop-in animation as a matrix: the object scales about its own centre and, at scale 1, sits
// at the anchored position plus the translation.
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>

#include "graphics/ScreenAnchor.h"
#include "menus/PopInAnimation.h"

class PopInTransform {
public:
    // Anchor 6 (no screen offset) places by the translation alone; anchor 4 about the centre
    // of the screen.
    PopInTransform(ScreenAnchor anchor, glm::vec2 const& translation, glm::vec2 const& centre);

    // Updates the animation, then rebuilds the matrix.
    void update(float dt);
    // The anchored position plus the translation.
    glm::vec2 position() const { return pivot_ + negCentre_; }
    PopInAnimation& animation() { return animation_; }
    PopInAnimation const& animation() const { return animation_; }
    // All zero until the first update, so nothing drawn through it shows before then.
    glm::mat4 const& matrix() const { return matrix_; }

private:
    glm::mat4 matrix_{0.0f};
    PopInAnimation animation_;
    glm::vec2 pivot_;
    glm::vec2 negCentre_;
};

// The anchor buttons use: no offset from the screen.
inline constexpr ScreenAnchor kAnchorNone = ScreenAnchor(6);
