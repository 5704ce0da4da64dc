#include "graphics/GlFunctions.h"

#include <EGL/egl.h>

#include <cstring>

namespace Graphics {

namespace {

using DiscardFn = void (*)(GLenum, GLsizei, GLenum const*);

void noDiscard(GLenum, GLsizei, GLenum const*) {}

DiscardFn discardEntryPoint() {
    auto fn = reinterpret_cast<DiscardFn>(eglGetProcAddress("glDiscardFramebufferEXT"));
    return fn ? fn : &noDiscard;
}

// The discard entry point is looked up on first use: EGL may not be initialised yet when the
// table itself is built.
void discardForward(GLenum target, GLsizei count, GLenum const* attachments) {
    static DiscardFn fn = discardEntryPoint();
    fn(target, count, attachments);
}

GlFunctions makeReal() {
    GlFunctions f{};
    f.blendFunc = &::glBlendFunc;
    f.enable = &::glEnable;
    f.disable = &::glDisable;
    f.depthMask = &::glDepthMask;
    f.pixelStorei = &::glPixelStorei;
    f.clearColor = &::glClearColor;
    f.activeTexture = &::glActiveTexture;
    f.genTextures = &::glGenTextures;
    f.texParameteri = &::glTexParameteri;
    f.texImage2D = &::glTexImage2D;
    f.texSubImage2D = &::glTexSubImage2D;
    f.discardFramebufferEXT = &discardForward;
    f.bindBuffer = &::glBindBuffer;
    f.bufferData = &::glBufferData;
    f.genBuffers = &::glGenBuffers;
    f.deleteBuffers = &::glDeleteBuffers;
    f.bufferSubData = &::glBufferSubData;
    f.vertexAttribPointer = &::glVertexAttribPointer;
    f.drawElements = &::glDrawElements;
    f.drawArrays = &::glDrawArrays;
    f.uniformMatrix4fv = &::glUniformMatrix4fv;
    f.uniform4f = &::glUniform4f;
    f.uniform1f = &::glUniform1f;
    f.uniform1i = &::glUniform1i;
    f.getUniformLocation = &::glGetUniformLocation;
    f.getAttribLocation = &::glGetAttribLocation;
    f.createShader = &::glCreateShader;
    f.shaderSource = &::glShaderSource;
    f.compileShader = &::glCompileShader;
    f.getShaderiv = &::glGetShaderiv;
    f.getShaderInfoLog = &::glGetShaderInfoLog;
    f.deleteShader = &::glDeleteShader;
    f.createProgram = &::glCreateProgram;
    f.attachShader = &::glAttachShader;
    f.bindAttribLocation = &::glBindAttribLocation;
    f.linkProgram = &::glLinkProgram;
    f.getProgramiv = &::glGetProgramiv;
    f.getProgramInfoLog = &::glGetProgramInfoLog;
    f.deleteProgram = &::glDeleteProgram;
    f.genFramebuffers = &::glGenFramebuffers;
    f.framebufferTexture2D = &::glFramebufferTexture2D;
    f.clear = &::glClear;
    f.deleteFramebuffers = &::glDeleteFramebuffers;
    f.useProgram = &::glUseProgram;
    f.bindTexture = &::glBindTexture;
    f.bindFramebuffer = &::glBindFramebuffer;
    f.enableVertexAttribArray = &::glEnableVertexAttribArray;
    f.disableVertexAttribArray = &::glDisableVertexAttribArray;
    f.viewport = &::glViewport;
    f.deleteTextures = &::glDeleteTextures;
    f.getIntegerv = &::glGetIntegerv;
    f.getString = &::glGetString;
    return f;
}

}  // namespace

GlFunctions const& realGlFunctions() {
    static GlFunctions const real = makeReal();
    return real;
}

GlFunctions& glFunctions() {
    static GlFunctions active = realGlFunctions();
    return active;
}

bool hasDiscardFramebufferExtension() {
    auto const* ext = reinterpret_cast<char const*>(glFunctions().getString(GL_EXTENSIONS));
    return ext && std::strstr(ext, "GL_EXT_discard_framebuffer") != nullptr;
}

uint32_t currentFramebufferBinding() { return gl::framebufferBinding(); }

void checkGLError() {}

void startupHook() {}

}  // namespace Graphics
