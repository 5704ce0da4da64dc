#include "graphics/ShaderProgram.h"

#include <glm/gtc/type_ptr.hpp>
#include <utility>

#include "graphics/Context.h"
#include "graphics/GlFunctions.h"

namespace Graphics {

uint64_t ShaderProgram::keyFor(ShaderSource const& s) {
    return Context::hashName(s.vertexFile + s.fragmentFile + "_" + s.vertexPrefix + s.fragmentPrefix);
}

ShaderProgram::ShaderProgram(Context* context, ShaderSource const& source) : context_(context), key_(keyFor(source)) {
    if (!context_) return;
    program_ = context_->acquireProgram(key_, source.vertexFile, source.fragmentFile, source.attributes,
                                        source.vertexPrefix, source.fragmentPrefix);
    // A refused program (table full) holds no reference and draws nothing.
    holdsReference_ = program_ != nullptr;
}

ShaderProgram::~ShaderProgram() { release(); }

ShaderProgram::ShaderProgram(ShaderProgram&& o) noexcept
    : context_(std::exchange(o.context_, nullptr)),
      key_(o.key_),
      program_(std::exchange(o.program_, nullptr)),
      holdsReference_(std::exchange(o.holdsReference_, false)) {}

ShaderProgram& ShaderProgram::operator=(ShaderProgram&& o) noexcept {
    if (this != &o) {
        release();
        context_ = std::exchange(o.context_, nullptr);
        key_ = o.key_;
        program_ = std::exchange(o.program_, nullptr);
        holdsReference_ = std::exchange(o.holdsReference_, false);
    }
    return *this;
}

void ShaderProgram::release() {
    if (context_ && holdsReference_) context_->releaseProgram(key_);
    context_ = nullptr;
    program_ = nullptr;
    holdsReference_ = false;
}

void ShaderProgram::use() const {
    if (context_) context_->useProgram(glName());
}

GLint ShaderProgram::uniformLocation(char const* name) const {
    use();
    return glName() ? gl::getUniformLocation(glName(), name) : -1;
}

GLint ShaderProgram::attribLocation(char const* name) const {
    use();
    return glName() ? gl::getAttribLocation(glName(), name) : -1;
}

void ShaderProgram::setUniform1iByName(char const* name, GLint value) const {
    GLint const location = uniformLocation(name);
    if (location >= 0) gl::uniform1i(location, value);
}

void ShaderProgram::setUniformMatrix4(GLint location, glm::mat4 const& value) {
    gl::uniformMatrix4fv(location, 1, GL_FALSE, glm::value_ptr(value));
}

void ShaderProgram::setUniform4f(GLint location, glm::vec4 const& v) { gl::uniform4f(location, v.x, v.y, v.z, v.w); }

void ShaderProgram::setUniform1i(GLint location, GLint value) { gl::uniform1i(location, value); }

void ShaderProgram::setUniform1f(GLint location, GLfloat value) { gl::uniform1f(location, value); }

}  // namespace Graphics
