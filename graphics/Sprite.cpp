#include "graphics/Sprite.h"

Sprite::Sprite(Graphics::Texture&& texture, ScreenAnchor anchor, glm::vec2 const& offset,
               std::optional<glm::vec2> const& size, glm::vec2 const& uvExtent)
    : texture_(std::move(texture)) {
    glm::vec2 const extent = size ? *size : glm::vec2(float(texture_.width()), float(texture_.height()));
    quad_ = Quad(anchoredPosition(anchor, &texture_) + offset, extent, uvExtent);
}

void Sprite::draw(Graphics::StandardShader& shader) const {
    texture_.bind(GL_TEXTURE0);
    quad_.draw(shader);
}

void drawQuadWithSprite(Quad const& quad, Graphics::StandardShader& shader, Sprite const& sprite) {
    sprite.texture().bind(GL_TEXTURE0);
    quad.draw(shader);
}

void copyQuadPositions(Quad& quad, Sprite const& sprite, glm::mat4 const& m) {
    for (std::size_t i = 0; i < Quad::cornerCount(); ++i) quad.corner(i).position = sprite.quad().corner(i).position;
    quad.transform(m);
}

void copyQuadUVs(Quad& quad, Sprite const& sprite, glm::vec2 const& offset) {
    for (std::size_t i = 0; i < Quad::cornerCount(); ++i) quad.corner(i).uv = sprite.quad().corner(i).uv + offset;
}
