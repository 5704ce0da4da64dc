#pragma once
#include <GLES2/gl2.h>

#include <cstdint>

namespace Graphics {

// What glVertexAttribPointer last set for one attribute index.
struct VertexAttribState {
    uint32_t arrayBuffer = 0;  // bound when the pointer was set
    uint32_t size = 0;
    uint32_t type = GL_FLOAT;
    uint8_t normalized = 0;
    uint32_t stride = 0;
    uint64_t pointer = 0;  // offset into the buffer, or a client address

    bool operator==(VertexAttribState const& o) const {
        return arrayBuffer == o.arrayBuffer && size == o.size && type == o.type && normalized == o.normalized &&
               stride == o.stride && pointer == o.pointer;
    }
    bool operator!=(VertexAttribState const& o) const { return !(*this == o); }
};

}  // namespace Graphics
