#include "menus/Button.h"

#include <GLES2/gl2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <glm/common.hpp>

#include "fonts/Layout.h"
#include "graphics/DrawRecord.h"
#include "graphics/StandardShader.h"
#include "graphics/Texture.h"
#include "menus/LoadHitRect.h"

namespace {

Sprite centredSprite(Graphics::Context* graphics, TextureDescriptor const& image, glm::vec2 const& centre) {
    return Sprite(Graphics::Texture(graphics, image), kAnchorOrigin, centre, std::nullopt, glm::vec2(1.0f));
}

// Strictly inside: a touch on the edge misses.
bool contains(Rect const& r, glm::vec2 const& p) { return p.x > r.minX && p.x < r.maxX && p.y > r.minY && p.y < r.maxY; }

float clamp01(float x) { return std::min(std::max(x, 0.0f), 1.0f); }

}  // namespace

Button::Button(Graphics::Context* graphics, Audio::Context* audio, glm::vec2 const& imageCentre,
               glm::vec2 const& hitCentre, Parameters const& p)
    : highlightSprite_(centredSprite(graphics, p.highlightImage, imageCentre)),
      labelFont_(p.labelFont),
      labelText_(p.labelText),
      labelPosition_(p.labelPosition),
      onActivate_(p.onActivate),
      drawBaseWhenPressed_(p.drawBaseWhenPressed),
      clickBeforeAction_(p.clickBeforeAction) {
    if (p.clickSound) clickSound_.emplace(audio, *p.clickSound);
    if (p.baseImage) baseSprite_.emplace(centredSprite(graphics, *p.baseImage, imageCentre));
    Graphics::Texture const& sized = baseSprite_ ? baseSprite_->texture() : highlightSprite_.texture();
    glm::vec2 const size(float(sized.width()), float(sized.height()));
    hitRect_ = loadHitRect(p.hitArea, hitCentre - size / 2.0f);
}

bool Button::runActivation() {
    bool clicked = false;
    if (clickBeforeAction_ && clickSound_) {
        clickSound_->play();
        clicked = true;
    }
    // A button without an action cannot be activated.
    if (!onActivate_ || !onActivate_()) return false;
    pressed_ = activated_ = 1;
    if (!clicked && clickSound_) clickSound_->play();
    return true;
}

bool Button::touchBegan(glm::vec2 const& point, unsigned) {
    if (activated_) return pressed_ != 0;
    if (pressed_) return true;
    if (contains(hitRect_, point)) {
        pressed_ = 1;
        return true;
    }
    return false;
}

bool Button::touchMoved(glm::vec2 const& point, unsigned) {
    if (activated_ || !pressed_) return activated_ && pressed_;
    if (!contains(hitRect_, point)) {
        pressed_ = 0;
        return false;
    }
    return true;
}

bool Button::touchEnded(glm::vec2 const& point, unsigned) {
    if (activated_) return false;
    if (pressed_ && contains(hitRect_, point) && runActivation()) return true;
    pressed_ = 0;
    return false;
}

bool Button::activate() {
    if (activated_) return false;
    return runActivation();
}

void Button::update(float dt) {
    if (highlighted_) {
        highlight_ = clamp01(highlight_ + highlightSpeed_ * dt);
        // The pulse turns back above a floor: a focused control never looks unfocused.
        if (highlight_ >= 1.0f) {
            highlightSpeed_ = -std::abs(highlightSpeed_);
        } else if (highlightSpeed_ < 0.0f && highlight_ <= kFocusFloor) {
            highlight_ = kFocusFloor;
            highlightSpeed_ = std::abs(highlightSpeed_);
        }
    } else {
        highlight_ = clamp01(highlight_ - 0.002f * dt);
    }
}

void Button::drawWithQuad(Graphics::StandardShader* shader, Quad const& quad) const {
    if (Graphics::DrawRecord::on()) Graphics::DrawRecord::button(quad.lowest(), quad.highest(), shader->pvm(), this);
    if (!pressed_) {
        if (baseSprite_) drawQuadWithSprite(quad, *shader, *baseSprite_);
        if (highlight_ > 0.0f) {
            glm::vec4 const previous = shader->color();
            shader->setColor(glm::vec4(highlight_));
            drawQuadWithSprite(quad, *shader, highlightSprite_);
            shader->setColor(previous);
        }
    } else {
        if (baseSprite_ && drawBaseWhenPressed_) drawQuadWithSprite(quad, *shader, *baseSprite_);
        drawQuadWithSprite(quad, *shader, highlightSprite_);
    }
}

void Button::drawLabel(Fonts::TextMesh& mesh, glm::mat4 const& transform) const {
    if (!labelFont_ || !labelText_) return;
    Graphics::DrawRecord::Owner const owner(this);
    Fonts::layoutText(*labelFont_, mesh, labelPosition_, *labelText_, Fonts::alignCentre, glm::vec4(1.0f), transform,
                      1.0f);
}

bool Button::isReady() const { return highlightSprite_.isReady() && (!baseSprite_ || baseSprite_->isReady()); }
