#include "graphics/StandardShader.h"

#include <cstring>
#include <glm/gtc/type_ptr.hpp>
#include <string>

#include "graphics/Context.h"
#include "graphics/GlFunctions.h"

namespace Graphics {

namespace {

struct Variant {
    std::string vertexPrefix;
    std::string fragmentPrefix;
    std::string attributes;
};

Variant const& variant(uint32_t mode) {
    static Variant const variants[6] = {
        {"", "", "vertex,uvcoord"},
        {"", "#define COLOR\n", "vertex,uvcoord"},
        {"", "#define COLOR_AND_AMBIENT_COLOR\n", "vertex,uvcoord"},
        {"", "#define AMBIENT_COLOR\n", "vertex,uvcoord"},
        {"#define COLOR_MASK\n#define UV2\n", "#define COLOR_MASK\n#define UV2\n", "vertex,uvcoord,uvcoord2"},
        {"#define MASK\n#define UV2\n", "#define MASK\n#define UV2\n", "vertex,uvcoord,uvcoord2"},
    };
    return variants[mode];
}

std::string const kVertexFile = "shaders/standard.vert";
std::string const kFragmentFile = "shaders/standard.frag";

void build(StandardShader::TexturedProgram& p, Context* context, uint32_t mode) {
    Variant const& v = variant(mode);
    p.program = ShaderProgram(context, ShaderSource{kVertexFile, kFragmentFile, v.attributes, v.vertexPrefix,
                                                    v.fragmentPrefix});
    p.pvmLocation = p.program.uniformLocation("pvm");
    p.program.setUniform1iByName("tex", 0);
}

void buildColor(StandardShader::ColorProgram& p, Context* context, uint32_t mode) {
    build(p, context, mode);
    p.colorLocation = p.program.uniformLocation("color");
}

bool same(glm::mat4 const& a, glm::mat4 const& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool same(glm::vec4 const& a, glm::vec4 const& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

StandardShader::StandardShader(Context* context) : context_(context) {
    build(textured_, context, kTextured);
    buildColor(color_, context, kColor);
    buildColor(ambient_, context, kAmbient);
    buildColor(colorAndAmbient_, context, kColorAndAmbient);
    colorAndAmbient_.ambientColorLocation = colorAndAmbient_.program.uniformLocation("ambientColor");
    buildColor(colorMask_, context, kColorMask);
    colorMask_.program.setUniform1iByName("tex2", 1);
    build(mask_, context, kMask);
    mask_.program.setUniform1iByName("tex2", 1);
    current_ = &colorAndAmbient_;
    colorSelector_ = &colorAndAmbient_;
    ambientSelector_ = &colorAndAmbient_;
}

ShaderProgram const& StandardShader::program(uint32_t mode) const {
    switch (mode) {
    case kTextured: return textured_.program;
    case kColor: return color_.program;
    case kColorAndAmbient: return colorAndAmbient_.program;
    case kAmbient: return ambient_.program;
    case kColorMask: return colorMask_.program;
    case kMask: return mask_.program;
    default: return current_->program;
    }
}

void StandardShader::use(uint32_t mode) {
    switch (mode) {
    case kTextured: current_ = &textured_, colorSelector_ = nullptr, ambientSelector_ = nullptr; break;
    case kColor: current_ = &color_, colorSelector_ = &color_, ambientSelector_ = nullptr; break;
    case kColorAndAmbient:
        current_ = &colorAndAmbient_, colorSelector_ = &colorAndAmbient_, ambientSelector_ = &colorAndAmbient_;
        break;
    case kAmbient: current_ = &ambient_, colorSelector_ = &ambient_, ambientSelector_ = nullptr; break;
    case kColorMask: current_ = &colorMask_, colorSelector_ = &colorMask_, ambientSelector_ = nullptr; break;
    case kMask: current_ = &mask_, colorSelector_ = nullptr, ambientSelector_ = nullptr; break;
    default: break;
    }
    if (mode <= kAmbient) {
        context_->bindTextureUnit(GL_TEXTURE1, 0);
        context_->setEnabledVertexAttribCount(2);
    } else if (mode <= kMask) {
        context_->setEnabledVertexAttribCount(3);
    }
    current_->program.use();
}

void StandardShader::setPVM(glm::mat4 const& pvm) {
    if (same(current_->pvm, pvm)) return;
    current_->pvm = pvm;
    ShaderProgram::setUniformMatrix4(current_->pvmLocation, pvm);
}

void StandardShader::setColor(glm::vec4 const& c) {
    // Modes without a colour uniform have nothing to set.
    if (!colorSelector_ || same(colorSelector_->color, c)) return;
    colorSelector_->color = c;
    ShaderProgram::setUniform4f(colorSelector_->colorLocation, c);
}

glm::vec4 const& StandardShader::color() const {
    static glm::vec4 const none(0.0f);
    return colorSelector_ ? colorSelector_->color : none;
}

void StandardShader::setAmbientColor(glm::vec4 const& c) {
    if (!ambientSelector_ || same(ambientSelector_->ambientColor, c)) return;
    ambientSelector_->ambientColor = c;
    ShaderProgram::setUniform4f(ambientSelector_->ambientColorLocation, c);
}

void StandardShader::setVertexAttribute(GLuint buffer, GLuint index, uintptr_t offset, GLsizei stride, GLint size,
                                        GLenum type) {
    context_->bindBuffer(GL_ARRAY_BUFFER, buffer);
    context_->vertexAttribPointer(index, size, type, false, stride, reinterpret_cast<void const*>(offset));
}

void StandardShader::drawArrays(GLenum mode, GLint first, GLsizei count) { gl::drawArrays(mode, first, count); }

void StandardShader::drawElements(GLuint buffer, uintptr_t offset, GLsizei count, GLenum mode, GLenum type) {
    context_->bindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffer);
    gl::drawElements(mode, count, type, reinterpret_cast<void const*>(offset));
}

}  // namespace Graphics
