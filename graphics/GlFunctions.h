#pragma once
// The one route from the engine to OpenGL ES 2.0. Every GL entry point the engine uses is a
// function pointer in `GlFunctions`; the `Graphics::gl` wrappers call through the active table.
// Tests install a table of their own to count calls without a GL context.
#include <GLES2/gl2.h>

#include <cstdint>
#include <string>

namespace Graphics {

struct GlFunctions {
    void (*blendFunc)(GLenum, GLenum);
    void (*enable)(GLenum);
    void (*disable)(GLenum);
    void (*depthMask)(GLboolean);
    void (*pixelStorei)(GLenum, GLint);
    void (*clearColor)(GLfloat, GLfloat, GLfloat, GLfloat);
    void (*activeTexture)(GLenum);
    void (*genTextures)(GLsizei, GLuint*);
    void (*texParameteri)(GLenum, GLenum, GLint);
    void (*texImage2D)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, void const*);
    void (*texSubImage2D)(GLenum, GLint, GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void const*);
    void (*discardFramebufferEXT)(GLenum, GLsizei, GLenum const*);
    void (*bindBuffer)(GLenum, GLuint);
    void (*bufferData)(GLenum, GLsizeiptr, void const*, GLenum);
    void (*genBuffers)(GLsizei, GLuint*);
    void (*deleteBuffers)(GLsizei, GLuint const*);
    void (*bufferSubData)(GLenum, GLintptr, GLsizeiptr, void const*);
    void (*vertexAttribPointer)(GLuint, GLint, GLenum, GLboolean, GLsizei, void const*);
    void (*drawElements)(GLenum, GLsizei, GLenum, void const*);
    void (*drawArrays)(GLenum, GLint, GLsizei);
    void (*uniformMatrix4fv)(GLint, GLsizei, GLboolean, GLfloat const*);
    void (*uniform4f)(GLint, GLfloat, GLfloat, GLfloat, GLfloat);
    void (*uniform1f)(GLint, GLfloat);
    void (*uniform1i)(GLint, GLint);
    GLint (*getUniformLocation)(GLuint, GLchar const*);
    GLint (*getAttribLocation)(GLuint, GLchar const*);
    GLuint (*createShader)(GLenum);
    void (*shaderSource)(GLuint, GLsizei, GLchar const* const*, GLint const*);
    void (*compileShader)(GLuint);
    void (*getShaderiv)(GLuint, GLenum, GLint*);
    void (*getShaderInfoLog)(GLuint, GLsizei, GLsizei*, GLchar*);
    void (*deleteShader)(GLuint);
    GLuint (*createProgram)();
    void (*attachShader)(GLuint, GLuint);
    void (*bindAttribLocation)(GLuint, GLuint, GLchar const*);
    void (*linkProgram)(GLuint);
    void (*getProgramiv)(GLuint, GLenum, GLint*);
    void (*getProgramInfoLog)(GLuint, GLsizei, GLsizei*, GLchar*);
    void (*deleteProgram)(GLuint);
    void (*genFramebuffers)(GLsizei, GLuint*);
    void (*framebufferTexture2D)(GLenum, GLenum, GLenum, GLuint, GLint);
    void (*clear)(GLbitfield);
    void (*deleteFramebuffers)(GLsizei, GLuint const*);
    void (*useProgram)(GLuint);
    void (*bindTexture)(GLenum, GLuint);
    void (*bindFramebuffer)(GLenum, GLuint);
    void (*enableVertexAttribArray)(GLuint);
    void (*disableVertexAttribArray)(GLuint);
    void (*viewport)(GLint, GLint, GLsizei, GLsizei);
    void (*deleteTextures)(GLsizei, GLuint const*);
    void (*getIntegerv)(GLenum, GLint*);
    GLubyte const* (*getString)(GLenum);
};

// The real GL ES 2.0 entry points (glDiscardFramebufferEXT looked up through EGL; a no-op
// when the driver lacks it).
GlFunctions const& realGlFunctions();
// The table the wrappers call through; starts as the real one.
GlFunctions& glFunctions();

// Swaps in another table for its lifetime and puts the previous one back afterwards.
class ScopedGlFunctions {
public:
    explicit ScopedGlFunctions(GlFunctions const& table) : saved_(glFunctions()) { glFunctions() = table; }
    ~ScopedGlFunctions() { glFunctions() = saved_; }
    ScopedGlFunctions(ScopedGlFunctions const&) = delete;
    ScopedGlFunctions& operator=(ScopedGlFunctions const&) = delete;

private:
    GlFunctions saved_;
};

// Thin forwarders, one per GL entry point.
namespace gl {
inline void blendFunc(GLenum s, GLenum d) { glFunctions().blendFunc(s, d); }
inline void enable(GLenum cap) { glFunctions().enable(cap); }
inline void disable(GLenum cap) { glFunctions().disable(cap); }
inline void depthMask(bool flag) { glFunctions().depthMask(flag ? GL_TRUE : GL_FALSE); }
inline void pixelStorei(GLenum p, GLint v) { glFunctions().pixelStorei(p, v); }
inline void clearColor(GLfloat r, GLfloat g, GLfloat b, GLfloat a) { glFunctions().clearColor(r, g, b, a); }
inline void activeTexture(GLenum unit) { glFunctions().activeTexture(unit); }
inline GLuint genTexture() {
    GLuint name = 0;
    glFunctions().genTextures(1, &name);
    return name;
}
inline void texParameteri(GLenum t, GLenum p, GLint v) { glFunctions().texParameteri(t, p, v); }
inline void texImage2D(GLenum t, GLint level, GLint internal, GLsizei w, GLsizei h, GLint border, GLenum format,
                       GLenum type, void const* pixels) {
    glFunctions().texImage2D(t, level, internal, w, h, border, format, type, pixels);
}
inline void texSubImage2D(GLenum t, GLint level, GLint x, GLint y, GLsizei w, GLsizei h, GLenum format, GLenum type,
                          void const* pixels) {
    glFunctions().texSubImage2D(t, level, x, y, w, h, format, type, pixels);
}
inline void discardFramebufferEXT(GLenum t, GLsizei n, GLenum const* a) { glFunctions().discardFramebufferEXT(t, n, a); }
inline void bindBuffer(GLenum t, GLuint b) { glFunctions().bindBuffer(t, b); }
inline void bufferData(GLenum t, GLsizeiptr s, void const* d, GLenum u) { glFunctions().bufferData(t, s, d, u); }
inline void genBuffers(GLsizei n, GLuint* out) { glFunctions().genBuffers(n, out); }
inline void deleteBuffers(GLsizei n, GLuint const* b) { glFunctions().deleteBuffers(n, b); }
inline void bufferSubData(GLenum t, GLintptr o, GLsizeiptr s, void const* d) { glFunctions().bufferSubData(t, o, s, d); }
inline void vertexAttribPointer(GLuint i, GLint size, GLenum type, GLboolean norm, GLsizei stride, void const* p) {
    glFunctions().vertexAttribPointer(i, size, type, norm, stride, p);
}
inline void drawElements(GLenum m, GLsizei c, GLenum t, void const* o) { glFunctions().drawElements(m, c, t, o); }
inline void drawArrays(GLenum m, GLint f, GLsizei c) { glFunctions().drawArrays(m, f, c); }
inline void uniformMatrix4fv(GLint l, GLsizei c, GLboolean t, GLfloat const* v) {
    glFunctions().uniformMatrix4fv(l, c, t, v);
}
inline void uniform4f(GLint l, GLfloat a, GLfloat b, GLfloat c, GLfloat d) { glFunctions().uniform4f(l, a, b, c, d); }
inline void uniform1f(GLint l, GLfloat v) { glFunctions().uniform1f(l, v); }
inline void uniform1i(GLint l, GLint v) { glFunctions().uniform1i(l, v); }
inline GLint getUniformLocation(GLuint p, char const* n) { return glFunctions().getUniformLocation(p, n); }
inline GLint getAttribLocation(GLuint p, char const* n) { return glFunctions().getAttribLocation(p, n); }
inline void deleteShader(GLuint s) { glFunctions().deleteShader(s); }
inline void deleteProgram(GLuint p) { glFunctions().deleteProgram(p); }
inline GLuint genFramebuffer() {
    GLuint name = 0;
    glFunctions().genFramebuffers(1, &name);
    return name;
}
inline void framebufferTexture2D(GLenum t, GLenum a, GLenum tt, GLuint tex, GLint level) {
    glFunctions().framebufferTexture2D(t, a, tt, tex, level);
}
inline void clear(GLbitfield mask) { glFunctions().clear(mask); }
inline void deleteFramebuffers(GLsizei n, GLuint const* f) { glFunctions().deleteFramebuffers(n, f); }
inline void useProgram(GLuint p) { glFunctions().useProgram(p); }
inline void bindTexture(GLenum t, GLuint tex) { glFunctions().bindTexture(t, tex); }
inline void bindFramebuffer(GLenum t, GLuint f) { glFunctions().bindFramebuffer(t, f); }
inline void enableVertexAttribArray(GLuint i) { glFunctions().enableVertexAttribArray(i); }
inline void disableVertexAttribArray(GLuint i) { glFunctions().disableVertexAttribArray(i); }
inline void viewport(GLint x, GLint y, GLsizei w, GLsizei h) { glFunctions().viewport(x, y, w, h); }
inline void deleteTextures(GLsizei n, GLuint const* t) { glFunctions().deleteTextures(n, t); }
inline GLuint framebufferBinding() {
    GLint value = 0;
    glFunctions().getIntegerv(GL_FRAMEBUFFER_BINDING, &value);
    return GLuint(value);
}
}  // namespace gl

// True when the driver offers GL_EXT_discard_framebuffer.
bool hasDiscardFramebufferExtension();
// The framebuffer bound now.
uint32_t currentFramebufferBinding();
// Hooks kept for the callers that expect them; nothing to do on this platform.
void checkGLError();
void startupHook();

}  // namespace Graphics
