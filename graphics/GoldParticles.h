#pragma once
// The gold of a level: the particles of the physics world drawn as point sprites into an effect
// layer, then coloured on screen through a gradient by a full-screen pass.
#include <GLES2/gl2.h>

#include <glm/vec2.hpp>

#include "graphics/DrawList.h"
#include "graphics/ShaderProgram.h"

class PhysicsWorld;

class GoldParticles {
public:
    GoldParticles(Graphics::Context* context, PhysicsWorld const* world, float baseSize);
    GoldParticles(GoldParticles const&) = delete;
    GoldParticles& operator=(GoldParticles const&) = delete;

    // The point pass, into the bound effect layer.
    void draw(Graphics::Context* context);
    // Follows the post-processing render scale, so points keep their size on screen.
    void setScale(float scale) { scale_ = scale; }
    float pointSize() const { return baseSize_ * scale_; }
    // The gold pass: `quad` is four full-screen vertices (x, y, u, v), `goldMap` the effect
    // layer's colour texture.
    void drawGoldPass(Graphics::Context* context, float const* quad, GLuint goldMap);
    // Mean particle position; (0, 0) when there are none.
    glm::vec2 averagePosition() const;

private:
    Graphics::ShaderProgram pointProgram_;
    GLint pvmLocation_ = -1;
    GLint texLocation_ = -1;
    GLint particleSizeLocation_ = -1;
    Graphics::ShaderProgram goldProgram_;
    Graphics::Texture sprite_;
    Graphics::Texture gradient_;
    float baseSize_ = 0.0f;
    PhysicsWorld const* world_ = nullptr;
    float scale_ = 1.0f;
};
