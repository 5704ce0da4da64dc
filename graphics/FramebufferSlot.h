#pragma once
#include <cstdint>

namespace Graphics {

// An off-screen colour target; free while `texture` is 0.
struct FramebufferSlot {
    uint32_t framebuffer = 0;
    uint32_t texture = 0;
};

}  // namespace Graphics
