#include "graphics/GoldParticles.h"

#include <string>

#include "graphics/Context.h"
#include "graphics/GlFunctions.h"
#include "physics/particles/PhysicsWorld.h"

using Graphics::Context;
using Graphics::ShaderProgram;

namespace {

ShaderProgram makeProgram(Context* context, std::string const& name, std::string const& attributes) {
    std::string const vertex = "shaders/" + name + ".vert";
    std::string const fragment = "shaders/" + name + ".frag";
    std::string const none;
    return ShaderProgram(context, Graphics::ShaderSource{vertex, fragment, attributes, none, none});
}

TextureOptions const kLinearClamped(1, 1, 0, 0);

}  // namespace

GoldParticles::GoldParticles(Context* context, PhysicsWorld const* world, float baseSize)
    : pointProgram_(makeProgram(context, "goldParticle", "vertex")),
      goldProgram_(makeProgram(context, "postprocessing_gold", "vertex,uvcoord")),
      sprite_(context, TextureDescriptor("art/effects/gold/goldsprite.png", kLinearClamped, 3)),
      gradient_(context, TextureDescriptor("art/effects/gold/goldgradient.png", kLinearClamped, 2)),
      baseSize_(baseSize),
      world_(world) {
    if (context == nullptr) {
        return;  // a world run without drawing
    }
    pvmLocation_ = pointProgram_.uniformLocation("pvm");
    texLocation_ = pointProgram_.uniformLocation("tex");
    particleSizeLocation_ = pointProgram_.uniformLocation("particleSize");
    pointProgram_.use();
    ShaderProgram::setUniform1i(texLocation_, 0);
    goldProgram_.use();
    goldProgram_.setUniform1iByName("goldMap", 0);
    goldProgram_.setUniform1iByName("goldGrad", 1);
}

void GoldParticles::draw(Context* context) {
    std::int32_t const count = world_ != nullptr ? world_->GetParticleCount() : 0;
    if (count <= 0) {
        return;
    }
    pointProgram_.use();
    ShaderProgram::setUniformMatrix4(pvmLocation_, context->projectionView());
    ShaderProgram::setUniform1f(particleSizeLocation_, pointSize());
    context->setBlend(true);
    DrawList::bindTexture(context, sprite_, GL_TEXTURE0);
    context->bindBuffer(GL_ARRAY_BUFFER, 0);
    context->setEnabledVertexAttribCount(1);
    context->vertexAttribPointer(0, 2, GL_FLOAT, false, 0, world_->GetParticlePositionBuffer());
    Graphics::gl::drawArrays(GL_POINTS, 0, count);
}

void GoldParticles::drawGoldPass(Context* context, float const* quad, GLuint goldMap) {
    context->setBlend(true);
    DrawList::bindTexture(context, gradient_, GL_TEXTURE1);
    context->bindTextureUnit(GL_TEXTURE0, goldMap);
    goldProgram_.use();
    context->bindBuffer(GL_ARRAY_BUFFER, 0);
    context->setEnabledVertexAttribCount(2);
    context->vertexAttribPointer(0, 2, GL_FLOAT, false, 16, quad);
    context->vertexAttribPointer(1, 2, GL_FLOAT, false, 16, quad + 2);
    Graphics::gl::drawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

glm::vec2 GoldParticles::averagePosition() const {
    std::int32_t const count = world_ != nullptr ? world_->GetParticleCount() : 0;
    if (count <= 0) {
        return glm::vec2(0.0f);
    }
    b2Vec2 const* p = world_->GetParticlePositionBuffer();
    float sx = 0.0f;
    float sy = 0.0f;
    for (std::int32_t i = 0; i < count; ++i) {
        sx += p[i].x;
        sy += p[i].y;
    }
    float const inverse = float(1.0 / double(count));
    return {sx * inverse, sy * inverse};
}
