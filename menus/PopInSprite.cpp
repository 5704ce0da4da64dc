#include "menus/PopInSprite.h"

PopInSprite::PopInSprite(Sprite&& sprite, PopInTransform const& popIn)
    : sprite_(std::move(sprite)), quad_(sprite_.quad()), popIn_(popIn) {}

void PopInSprite::draw(Graphics::StandardShader* shader) const {
    if (popIn_.animation().isIdle()) return;
    drawQuadWithSprite(quad_, *shader, sprite_);
}
