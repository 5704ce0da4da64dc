#include "game/HudText.h"

#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>

#include "fonts/Layout.h"
#include "graphics/Context.h"
#include "graphics/Quad.h"
#include "graphics/StandardShader.h"
#include "os/Assets.h"

namespace {

// Around the text, in screen units; the plate darkens what lies under it by this share, which
// keeps white text above 4.5:1 even over white.
float const kPadding = 10.0f;
float const kPlateDarkness = 0.6f;

}  // namespace

HudText::HudText(Graphics::Context* graphics) {
    if (graphics != nullptr) black_ = Graphics::Texture(graphics, Assets::texColorsBlack);
}

void HudText::clear() {
    mesh_.clear();
    plates_.clear();
    plateOpen_ = false;
}

void HudText::newPlate() { plateOpen_ = false; }

void HudText::add(Fonts::Font const& font, std::string const& text, glm::vec2 anchor, int32_t alignment, float scale) {
    if (text.empty()) return;
    glm::mat4 const size = glm::scale(glm::mat4(1.0f), glm::vec3(scale, scale, 1.0f));
    glm::vec3 const origin(0.0f);
    glm::mat4 const shadow = glm::translate(glm::mat4(1.0f), glm::vec3(anchor, 0.0f)) * size;
    glm::mat4 const face = glm::translate(glm::mat4(1.0f), glm::vec3(anchor + glm::vec2(-2.0f, 2.0f), 0.0f)) * size;
    Fonts::layoutText(font, mesh_, origin, text, alignment, glm::vec4(0.0f, 0.0f, 0.0f, 1.0f), shadow, 1.0f);
    Fonts::layoutText(font, mesh_, origin, text, alignment, glm::vec4(1.0f), face, 1.0f);
    // The plate's extent: the same two copies on their own.
    Fonts::TextMesh alone;
    Fonts::layoutText(font, alone, origin, text, alignment, glm::vec4(1.0f), shadow, 1.0f);
    Fonts::layoutText(font, alone, origin, text, alignment, glm::vec4(1.0f), face, 1.0f);
    if (alone.empty()) return;
    Rect const r = alone.bounds();
    if (!plateOpen_) {
        plates_.push_back(r);
        plateOpen_ = true;
        return;
    }
    Rect& p = plates_.back();
    p = Rect{std::min(p.minX, r.minX), std::max(p.maxX, r.maxX), std::min(p.minY, r.minY), std::max(p.maxY, r.maxY)};
}

void HudText::draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection) const {
    if (mesh_.empty() || graphics == nullptr || shader == nullptr) return;
    graphics->setBlend(true);
    if (black_.isReady()) {
        shader->use(Graphics::StandardShader::kColor);
        shader->setPVM(projection);
        shader->setColor(glm::vec4(kPlateDarkness));
        black_.bind(GL_TEXTURE0);
        for (Rect const& p : plates_) {
            glm::vec2 const lo(p.minX - kPadding, p.minY - kPadding), hi(p.maxX + kPadding, p.maxY + kPadding);
            Quad(lo, hi - lo, glm::vec2(1.0f)).draw(*shader);
        }
    }
    shader->use(Graphics::StandardShader::kAmbient);
    shader->setPVM(projection);
    mesh_.draw(graphics, shader, boost::none);
}
