#pragma once
// One texture of the context's texture table: what a Texture handle points to.
#include <cstdint>
#include <string>

#include "os/TextureDescriptor.h"

namespace Graphics {

// Load-flag bits of a TextureDescriptor.
enum TextureLoadFlag : uint8_t {
    kLoadLuminance = 1,       // one channel uploads as GL_LUMINANCE, else GL_ALPHA
    kLoadOrdinaryOrder = 2,   // a page texture takes its order from the ordinary counter
    kLoadSliced = 4,          // upload in row slices, one per texture pass
    kLoadLowEndDownscale = 8  // WebP decoded smaller on low-end devices
};

struct TextureEntry {
    uint32_t glName = 0;  // 0 while there is no GL texture
    uint16_t width = 0;
    uint16_t height = 0;
    std::string path;
    TextureOptions options{};  // the sampler options the GL texture carries now
    uint8_t loadFlags = 0;
    uint64_t loadOrder = 0;  // larger is more important
    uint8_t channels = 0;
    uint8_t resident = 0;     // 1 once every row is in GL
    uint8_t pageTexture = 0;  // 1024 x 1024 with 3 or 4 channels, stored as RGBA
    uint64_t byteSize = 0;    // width x height x channels
};

struct TextureSlot {
    // One per Texture handle plus one while a decode job holds the slot.
    uint64_t referenceCount = 0;
    TextureEntry entry;
};

}  // namespace Graphics
