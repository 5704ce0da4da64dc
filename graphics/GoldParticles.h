#pragma once
// The particles of a level. Liquid particles are its gold: drawn as point sprites into an effect
// layer, then coloured on screen through a gradient by a full-screen pass. Particles that keep a
// shape together (elastic, spring, solid or rigid groups) are bodies: drawn after that pass as one
// smooth shape each, in their group's colour with a darker rim.
#include <GLES2/gl2.h>

#include <cstdint>
#include <glm/vec2.hpp>
#include <vector>

#include "graphics/DrawList.h"
#include "graphics/ShaderProgram.h"

class PhysicsWorld;

class GoldParticles {
public:
    GoldParticles(Graphics::Context* context, PhysicsWorld const* world, float baseSize);
    GoldParticles(GoldParticles const&) = delete;
    GoldParticles& operator=(GoldParticles const&) = delete;

    // The point pass of the liquid particles, into the bound effect layer.
    void draw(Graphics::Context* context);
    // Follows the post-processing render scale, so points keep their size on screen.
    void setScale(float scale) { scale_ = scale; }
    float pointSize() const { return baseSize_ * scale_; }
    // The gold pass: `quad` is four full-screen vertices (x, y, u, v), `goldMap` the effect
    // layer's colour texture.
    void drawGoldPass(Graphics::Context* context, float const* quad, GLuint goldMap);
    // The groups that keep their shape, in world space with the context's projection and view.
    void drawShapes(Graphics::Context* context, Graphics::StandardShader* shader);
    // Mean position of the liquid particles; (0, 0) when there are none.
    glm::vec2 averagePosition() const;

private:
    struct Vertex {
        float x, y, u, v;
    };
    void addDisc(std::vector<Vertex>& out, glm::vec2 centre, float radius) const;
    void addBand(std::vector<Vertex>& out, glm::vec2 a, glm::vec2 b, float radius) const;
    void flush(Graphics::Context* context, Graphics::StandardShader* shader, std::vector<Vertex> const& vertices,
               glm::vec4 const& colour);

    Graphics::ShaderProgram pointProgram_;
    GLint pvmLocation_ = -1;
    GLint texLocation_ = -1;
    GLint particleSizeLocation_ = -1;
    Graphics::ShaderProgram goldProgram_;
    Graphics::Texture sprite_;
    Graphics::Texture gradient_;
    Graphics::Texture white_;
    float baseSize_ = 0.0f;
    PhysicsWorld const* world_ = nullptr;
    float scale_ = 1.0f;
    // Kept between frames so that drawing allocates only while they grow.
    std::vector<Vertex> body_, rim_;
};
