#pragma once
// A texture placed on the logical screen: its handle and the quad it is drawn on.
#include <GLES2/gl2.h>

#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <optional>

#include "graphics/Quad.h"
#include "graphics/ScreenAnchor.h"
#include "graphics/Texture.h"

class Sprite {
public:
    // Lower-left corner = anchoredPosition(anchor, texture) + offset; without a size the
    // texture's pixel size (known from its header once the texture is requested) is used.
    Sprite(Graphics::Texture&& texture, ScreenAnchor anchor, glm::vec2 const& offset,
           std::optional<glm::vec2> const& size, glm::vec2 const& uvExtent);

    void draw(Graphics::StandardShader& shader) const;

    Quad& quad() { return quad_; }
    Quad const& quad() const { return quad_; }
    Graphics::Texture const& texture() const { return texture_; }
    bool isReady() const { return texture_.isReady(); }

    static Quad copyQuad(Sprite const& sprite) { return sprite.quad_; }

private:
    Graphics::Texture texture_;
    Quad quad_;
};

// Draws `quad` with the sprite's texture on unit 0.
void drawQuadWithSprite(Quad const& quad, Graphics::StandardShader& shader, Sprite const& sprite);
// The sprite's corner positions, transformed by m, into `quad` (uvs untouched).
void copyQuadPositions(Quad& quad, Sprite const& sprite, glm::mat4 const& m);
// The sprite's uvs plus `offset` into `quad` (positions untouched).
void copyQuadUVs(Quad& quad, Sprite const& sprite, glm::vec2 const& offset);
