#pragma once
#include <cstdint>

namespace Graphics {

// A linked program of the context's program table. `program` comes first so a pointer to the
// entry is also a pointer to the GL program name; it is 0 when the sources did not build.
struct ProgramEntry {
    uint32_t program = 0;
    uint32_t fragmentShader = 0;
    uint32_t vertexShader = 0;
    uint64_t referenceCount = 0;
};

}  // namespace Graphics
