#pragma once
#include <cstdint>

namespace Graphics {

struct TextureSlot;

// The decoded image the texture pass is uploading; a sliced upload spans several passes.
struct PendingUpload {
    uint64_t hash = 0;
    TextureSlot* slot = nullptr;
    uint8_t const* pixels = nullptr;  // null when there is no current upload
    uint8_t nextSlice = 0;
    uint8_t storageMade = 0;
};

}  // namespace Graphics
