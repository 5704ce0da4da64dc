#include "graphics/Framebuffer.h"

#include <cmath>

#include "graphics/Context.h"
#include "graphics/FramebufferSlot.h"

namespace Graphics {

uint64_t Framebuffer::allocatedSide(uint64_t side, bool exactSize) {
    if (exactSize || side == 0) return side;
    return uint64_t(std::exp2(std::ceil(std::log(double(side)) / std::log(2.0))));
}

Framebuffer::Framebuffer(Context* context, uint64_t width, uint64_t height, TextureOptions const& options,
                         GLenum format, bool exactSize)
    : width_(allocatedSide(width, exactSize)),
      height_(allocatedSide(height, exactSize)),
      slot_(context->createFramebuffer(GLsizei(width_), GLsizei(height_), options, format)),
      context_(context) {}

Framebuffer::~Framebuffer() {
    if (slot_) context_->deleteFramebuffer(slot_);
}

GLuint Framebuffer::texture() const { return slot_ ? slot_->texture : 0; }

void Framebuffer::bind() {
    if (slot_) context_->bindFramebuffer(slot_->framebuffer);
}

}  // namespace Graphics
