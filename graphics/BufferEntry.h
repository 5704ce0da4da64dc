#pragma once
#include <GLES2/gl2.h>

#include <cstdint>

namespace Graphics {

// A GL buffer shared by key, with up to three names that rotate once a frame so that the CPU
// can write one while the GPU still reads the others. `current` comes first: a pointer to the
// entry is also a pointer to the name to draw from.
struct BufferEntry {
    uint32_t current = 0;
    uint32_t names[3] = {0, 0, 0};  // those beyond the count are 0
    uint32_t usage = GL_STATIC_DRAW;
    uint64_t referenceCount = 0;
};

}  // namespace Graphics
