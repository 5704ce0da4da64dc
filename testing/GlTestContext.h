#pragma once
#include <EGL/egl.h>
#include <GLES2/gl2.h>

#include <cstdint>
#include <vector>

namespace testing_support {

// A real GL ES 2.0 context on Mesa's surfaceless platform with an offscreen colour target.
// Tests draw into it and read pixels back.
class GlTestContext {
public:
    GlTestContext(int width = 256, int height = 256);
    ~GlTestContext();
    GlTestContext(GlTestContext const&) = delete;
    GlTestContext& operator=(GlTestContext const&) = delete;

    bool ok() const { return ok_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // Binds the offscreen framebuffer as the default target for drawing.
    void bindTarget();
    GLuint framebuffer() const { return fbo_; }
    // RGBA8 pixels, bottom row first (as glReadPixels returns them).
    std::vector<uint8_t> readPixels();
    // One RGBA pixel at (x, y) with y counted from the bottom.
    uint32_t pixel(int x, int y);

private:
    bool ok_ = false;
    int width_, height_;
    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
    GLuint fbo_ = 0, colour_ = 0;
};

// Packs r, g, b, a into the value that pixel() returns.
constexpr uint32_t rgba(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
    return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16 | uint32_t(a) << 24;
}

}  // namespace testing_support
