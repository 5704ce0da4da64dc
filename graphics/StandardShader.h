#pragma once
// The six variants of the textured shader nearly everything is drawn with, switched by a mode
// number, with uniform caches that skip redundant GL calls.
#include <GLES2/gl2.h>

#include <cstdint>
#include <glm/mat4x4.hpp>
#include <glm/vec4.hpp>

#include "graphics/ShaderProgram.h"

namespace Graphics {

class Context;

class StandardShader {
public:
    enum Mode : uint32_t {
        kTextured = 0,
        kColor = 1,
        kColorAndAmbient = 2,
        kAmbient = 3,
        kColorMask = 4,
        kMask = 5,
    };

    struct TexturedProgram {
        ShaderProgram program;
        GLint pvmLocation = -1;
        glm::mat4 pvm{0.0f};
    };
    struct ColorProgram : TexturedProgram {
        GLint colorLocation = -1;
        glm::vec4 color{0.0f};
    };
    struct ColorAndAmbientProgram : ColorProgram {
        GLint ambientColorLocation = -1;
        glm::vec4 ambientColor{0.0f};
    };
    using ColorMaskProgram = ColorProgram;
    using MaskProgram = TexturedProgram;

    explicit StandardShader(Context* context);
    StandardShader(StandardShader const&) = delete;
    StandardShader& operator=(StandardShader const&) = delete;

    // Modes above 5 keep the previous variant; the current program is made current in any case.
    void use(uint32_t mode);
    void setPVM(glm::mat4 const& pvm);
    glm::mat4 const& pvm() const { return current_->pvm; }
    void setColor(glm::vec4 const& color);
    glm::vec4 const& color() const;
    void setAmbientColor(glm::vec4 const& color);
    // buffer 0 means client memory: the offset is then an address.
    void setVertexAttribute(GLuint buffer, GLuint index, uintptr_t offset, GLsizei stride, GLint size, GLenum type);
    void drawArrays(GLenum mode, GLint first, GLsizei count);
    void drawElements(GLuint buffer, uintptr_t offset, GLsizei count, GLenum mode, GLenum type);

    // The program of the current variant (tests and callers that need its GL name).
    ShaderProgram const& currentProgram() const { return current_->program; }
    ShaderProgram const& program(uint32_t mode) const;

private:
    TexturedProgram textured_;
    ColorProgram color_;
    ColorProgram ambient_;
    ColorAndAmbientProgram colorAndAmbient_;
    ColorMaskProgram colorMask_;
    MaskProgram mask_;
    TexturedProgram* current_ = nullptr;
    ColorProgram* colorSelector_ = nullptr;
    ColorAndAmbientProgram* ambientSelector_ = nullptr;
    Context* context_ = nullptr;
};

}  // namespace Graphics
