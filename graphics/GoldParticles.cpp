#include "graphics/GoldParticles.h"

#include <cmath>
#include <string>

#include "graphics/Context.h"
#include "graphics/GlFunctions.h"
#include "graphics/StandardShader.h"
#include "os/Assets.h"
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
      white_(context, Assets::texColorsWhite),
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
    // Groups are contiguous, so the liquid comes in a few runs between the bodies.
    ParticleSystem const& particles = world_->particles();
    for (std::int32_t first = 0; first < count;) {
        if (particles.HoldsShape(first)) {
            ++first;
            continue;
        }
        std::int32_t last = first + 1;
        while (last < count && !particles.HoldsShape(last)) ++last;
        Graphics::gl::drawArrays(GL_POINTS, first, last - first);
        first = last;
    }
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
    b2Vec2 const* p = count > 0 ? world_->GetParticlePositionBuffer() : nullptr;
    float sx = 0.0f;
    float sy = 0.0f;
    std::int32_t liquid = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        if (world_->particles().HoldsShape(i)) {
            continue;
        }
        sx += p[i].x;
        sy += p[i].y;
        ++liquid;
    }
    if (liquid == 0) {
        return glm::vec2(0.0f);
    }
    float const inverse = float(1.0 / double(liquid));
    return {sx * inverse, sy * inverse};
}

// A disc as a fan of triangles; sixteen sides keep its facets under half a pixel at the size a
// particle is drawn.
void GoldParticles::addDisc(std::vector<Vertex>& out, glm::vec2 centre, float radius) const {
    constexpr int sides = 16;
    constexpr float step = 6.2831853f / float(sides);
    for (int i = 0; i < sides; ++i) {
        float const a0 = step * float(i), a1 = step * float(i + 1);
        out.push_back({centre.x, centre.y, 0.5f, 0.5f});
        out.push_back({centre.x + radius * std::cos(a0), centre.y + radius * std::sin(a0), 0.5f, 0.5f});
        out.push_back({centre.x + radius * std::cos(a1), centre.y + radius * std::sin(a1), 0.5f, 0.5f});
    }
}

// The band `radius` either side of the segment a-b, as two triangles.
void GoldParticles::addBand(std::vector<Vertex>& out, glm::vec2 a, glm::vec2 b, float radius) const {
    glm::vec2 const d = b - a;
    float const length = std::sqrt(d.x * d.x + d.y * d.y);
    if (!(length > 0.0f)) {
        return;
    }
    glm::vec2 const side = glm::vec2(-d.y, d.x) * (radius / length);
    glm::vec2 const corners[4] = {a + side, a - side, b - side, b + side};
    for (int i : {0, 1, 2, 0, 2, 3}) {
        out.push_back({corners[i].x, corners[i].y, 0.5f, 0.5f});
    }
}

void GoldParticles::flush(Context* context, Graphics::StandardShader* shader, std::vector<Vertex> const& vertices,
                          glm::vec4 const& colour) {
    if (vertices.empty()) {
        return;
    }
    shader->use(Graphics::StandardShader::kColor);
    shader->setPVM(context->projectionView());
    shader->setColor(colour);
    DrawList::bindTexture(context, white_, GL_TEXTURE0);
    shader->setVertexAttribute(0, 0, reinterpret_cast<std::uintptr_t>(&vertices[0].x), sizeof(Vertex), 2, GL_FLOAT);
    shader->setVertexAttribute(0, 1, reinterpret_cast<std::uintptr_t>(&vertices[0].u), sizeof(Vertex), 2, GL_FLOAT);
    shader->drawArrays(GL_TRIANGLES, 0, GLsizei(vertices.size()));
}

void GoldParticles::drawShapes(Context* context, Graphics::StandardShader* shader) {
    if (world_ == nullptr || context == nullptr || shader == nullptr || !white_.isReady()) {
        return;
    }
    ParticleSystem const& particles = world_->particles();
    ParticleColor const* colours = particles.GetColorBuffer();
    b2Vec2 const* position = particles.GetPositionBuffer();
    ParticleContact const* contacts = particles.GetContacts();
    std::int32_t const contactCount = particles.GetContactCount();
    // A body is its particles and the bands joining each to the neighbours it touches, all as
    // wide as a particle: its outline runs straight at that distance from its outer particles,
    // with no notch between two of them, and round at its corners. The same shape drawn wider
    // beneath it makes a rim of even width.
    float const radius = particles.GetRadius(), rim = 1.8f * radius;
    context->setBlend(true);
    for (ParticleGroup const* group = particles.GetGroupList(); group != nullptr; group = group->GetNext()) {
        std::int32_t const first = group->GetBufferIndex(), last = first + group->GetParticleCount();
        if (first >= last || !particles.HoldsShape(first)) {
            continue;
        }
        body_.clear();
        rim_.clear();
        for (std::int32_t i = first; i < last; ++i) {
            glm::vec2 const p(position[i].x, position[i].y);
            addDisc(rim_, p, rim);
            addDisc(body_, p, radius);
        }
        for (std::int32_t c = 0; c < contactCount; ++c) {
            std::int32_t const a = contacts[c].indexA, b = contacts[c].indexB;
            if (a >= first && a < last && b >= first && b < last) {
                glm::vec2 const pa(position[a].x, position[a].y), pb(position[b].x, position[b].y);
                addBand(rim_, pa, pb, rim);
                addBand(body_, pa, pb, radius);
            }
        }
        // The group's own colour; a grey stone without one. Drawn opaque: discs overlap.
        glm::vec3 colour(0.55f, 0.58f, 0.62f);
        if (colours != nullptr && colours[first].a != 0) {
            colour = glm::vec3(colours[first].r, colours[first].g, colours[first].b) / 255.0f;
        }
        flush(context, shader, rim_, glm::vec4(colour * 0.5f, 1.0f));
        flush(context, shader, body_, glm::vec4(colour, 1.0f));
    }
}
