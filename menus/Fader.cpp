#include "menus/Fader.h"

#include <algorithm>

void Fader::update(float dt) { value_ = std::min(std::max(value_ + direction_ * dt * speed_, 0.0f), 1.0f); }
