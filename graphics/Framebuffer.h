#pragma once
// An off-screen colour target owned by its user, made in one of the context's slots.
#include <GLES2/gl2.h>

#include <cstdint>

#include "os/TextureDescriptor.h"

namespace Graphics {

class Context;
struct FramebufferSlot;

class Framebuffer {
public:
    // Without `exactSize` each side is rounded up to a power of two (1000 -> 1024).
    Framebuffer(Context* context, uint64_t width, uint64_t height, TextureOptions const& options, GLenum format,
                bool exactSize);
    ~Framebuffer();
    Framebuffer(Framebuffer const&) = delete;
    Framebuffer& operator=(Framebuffer const&) = delete;

    static uint64_t allocatedSide(uint64_t side, bool exactSize);

    // 0 when no slot was free.
    GLuint texture() const;
    void bind();
    uint64_t width() const { return width_; }
    uint64_t height() const { return height_; }

private:
    uint64_t width_;
    uint64_t height_;
    FramebufferSlot* slot_;
    Context* context_;
};

}  // namespace Graphics
