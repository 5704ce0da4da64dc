#pragma once
// A counted handle of one program of the context's program table. Identical descriptions share
// one GL program; the last handle's destruction deletes it.
#include <GLES2/gl2.h>

#include <cstdint>
#include <glm/mat4x4.hpp>
#include <glm/vec4.hpp>
#include <string>

#include "graphics/ShaderSource.h"

namespace Graphics {

class Context;

class ShaderProgram {
public:
    ShaderProgram() = default;
    ShaderProgram(Context* context, ShaderSource const& source);
    ~ShaderProgram();
    ShaderProgram(ShaderProgram&& other) noexcept;
    ShaderProgram& operator=(ShaderProgram&& other) noexcept;
    ShaderProgram(ShaderProgram const&) = delete;
    ShaderProgram& operator=(ShaderProgram const&) = delete;

    // The key of a description: hash of vertex file + fragment file + "_" + both prefixes.
    static uint64_t keyFor(ShaderSource const& source);

    GLuint glName() const { return program_ ? *program_ : 0; }
    uint64_t key() const { return key_; }

    // Makes the program current (through the context's cache).
    void use() const;
    GLint uniformLocation(char const* name) const;
    GLint attribLocation(char const* name) const;
    void setUniform1iByName(char const* name, GLint value) const;
    // Plain uniform writes; the caller has made the program current.
    static void setUniformMatrix4(GLint location, glm::mat4 const& value);
    static void setUniform4f(GLint location, glm::vec4 const& value);
    static void setUniform1i(GLint location, GLint value);
    static void setUniform1f(GLint location, GLfloat value);

private:
    void release();

    Context* context_ = nullptr;
    uint64_t key_ = 0;
    GLuint const* program_ = nullptr;
    bool holdsReference_ = false;
};

}  // namespace Graphics
