#include "graphics/TwoStateSprite.h"

TwoStateSprite::TwoStateSprite(Sprite&& first, Sprite&& second, uint32_t index)
    : first_(std::move(first)), second_(std::move(second)), index_(index) {}

void TwoStateSprite::draw(Graphics::StandardShader& shader) const { (index_ == 0 ? first_ : second_).draw(shader); }
