#pragma once
#include <cstdint>

namespace Graphics {

struct TextureSlot;

// A texture waiting for, or done with, decoding.
struct QueuedTexture {
    uint64_t hash = 0;
    TextureSlot* slot = nullptr;
};

// A finished decode: the pixels sit in `area` until the texture pass uploads them. A failed
// decode carries `ok` false and transparent black pixels, so the texture ends empty, not with
// whatever the area held before.
struct DecodeJob {
    uint64_t hash = 0;
    TextureSlot* slot = nullptr;
    uint8_t* area = nullptr;
    bool ok = false;
};

}  // namespace Graphics
