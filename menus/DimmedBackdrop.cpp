#include "menus/DimmedBackdrop.h"

#include <GLES2/gl2.h>

#include "graphics/Context.h"
#include "graphics/DrawRecord.h"
#include "graphics/ScreenAnchor.h"
#include "graphics/StandardShader.h"
#include "os/Assets.h"
#include "os/services/PlatformServices.h"

namespace {
float const kDarkest = 0.5f;
}

DimmedBackdrop::DimmedBackdrop(Graphics::Context* graphics)
    : projection_(screenProjection()),
      white_(graphics, Assets::texColorsWhite),
      quad_(glm::vec2(0.0f), glm::vec2(virtualWidth(), virtualHeight()), glm::vec2(1.0f)) {}

void DimmedBackdrop::draw(Graphics::Context* graphics, Graphics::StandardShader* shader, float opacity) const {
    graphics->setBlend(true);
    white_.bind(GL_TEXTURE0);
    shader->use(Graphics::StandardShader::kColor);
    shader->setPVM(projection_);
    shader->setColor(glm::vec4(0.0f, 0.0f, 0.0f, kDarkest * opacity));
    quad_.draw(*shader);
    // Dimmed at least halfway, the screen behind takes no input.
    if (opacity >= 0.5f) Graphics::DrawRecord::cover();
}
