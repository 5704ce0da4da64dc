#pragma once
// A sprite drawn through a pop-in transform.
#include "graphics/Quad.h"
#include "graphics/Sprite.h"
#include "menus/PopInTransform.h"

class PopInSprite {
public:
    PopInSprite(Sprite&& sprite, PopInTransform const& popIn);

    // Nothing while the pop-in has not been started.
    void draw(Graphics::StandardShader* shader) const;
    void update(float dt) { popIn_.update(dt); }
    void preDraw() { copyQuadPositions(quad_, sprite_, popIn_.matrix()); }

    PopInTransform& popIn() { return popIn_; }
    PopInTransform const& popIn() const { return popIn_; }
    Sprite& sprite() { return sprite_; }
    Sprite const& sprite() const { return sprite_; }
    Quad const& quad() const { return quad_; }

private:
    Sprite sprite_;
    Quad quad_;
    PopInTransform popIn_;
};
