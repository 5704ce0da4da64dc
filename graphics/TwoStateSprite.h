#pragma once
// Two sprites of which one is shown (a button's normal and lit look, a toggle).
#include <cstdint>

#include "graphics/Sprite.h"

class TwoStateSprite {
public:
    TwoStateSprite(Sprite&& first, Sprite&& second, uint32_t index);

    // The first sprite for index 0, the second for any other.
    void draw(Graphics::StandardShader& shader) const;
    bool isReady() const { return first_.isReady() && second_.isReady(); }
    void select(uint32_t index) { index_ = index; }
    uint32_t selected() const { return index_; }
    Sprite& sprite(uint32_t index) { return index == 0 ? first_ : second_; }

private:
    Sprite first_;
    Sprite second_;
    uint32_t index_;
};
