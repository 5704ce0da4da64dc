#include "testing/GlTestContext.h"

#include <EGL/eglext.h>

#include <cstdio>
#include <cstdlib>

namespace testing_support {

GlTestContext::GlTestContext(int width, int height) : width_(width), height_(height) {
    setenv("MESA_GLES_VERSION_OVERRIDE", "2.0", 0);
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
        std::fprintf(stderr, "GlTestContext: no eglGetPlatformDisplayEXT\n");
        return;
    }
    display_ = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, nullptr, nullptr)) {
        std::fprintf(stderr, "GlTestContext: cannot initialise the surfaceless display\n");
        return;
    }
    eglBindAPI(EGL_OPENGL_ES_API);
    EGLint const configAttribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_ES2_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                    EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    eglChooseConfig(display_, configAttribs, &config, 1, &count);
    EGLint const contextAttribs[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
    context_ = eglCreateContext(display_, count ? config : EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, contextAttribs);
    if (context_ == EGL_NO_CONTEXT || !eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_)) {
        std::fprintf(stderr, "GlTestContext: cannot create a GL ES 2.0 context (0x%x)\n", eglGetError());
        return;
    }
    glGenTextures(1, &colour_);
    glBindTexture(GL_TEXTURE_2D, colour_);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width_, height_, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);
    glGenFramebuffers(1, &fbo_);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour_, 0);
    ok_ = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glViewport(0, 0, width_, height_);
}

GlTestContext::~GlTestContext() {
    if (context_ != EGL_NO_CONTEXT) {
        glDeleteFramebuffers(1, &fbo_);
        glDeleteTextures(1, &colour_);
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display_, context_);
    }
    if (display_ != EGL_NO_DISPLAY) eglTerminate(display_);
}

void GlTestContext::bindTarget() {
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glViewport(0, 0, width_, height_);
}

std::vector<uint8_t> GlTestContext::readPixels() {
    std::vector<uint8_t> out(size_t(width_) * height_ * 4);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
    return out;
}

uint32_t GlTestContext::pixel(int x, int y) {
    uint8_t p[4] = {};
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    return rgba(p[0], p[1], p[2], p[3]);
}

}  // namespace testing_support
