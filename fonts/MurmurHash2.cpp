#include "fonts/MurmurHash2.h"

namespace Fonts {

uint32_t murmurHash2(void const* data, std::size_t length, uint32_t seed) {
    constexpr uint32_t m = 0x5bd1e995;
    constexpr int r = 24;
    auto const* bytes = static_cast<unsigned char const*>(data);
    uint32_t h = seed ^ static_cast<uint32_t>(length);
    while (length >= 4) {
        uint32_t k = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                     uint32_t(bytes[3]) << 24;
        k *= m;
        k ^= k >> r;
        k *= m;
        h *= m;
        h ^= k;
        bytes += 4;
        length -= 4;
    }
    switch (length) {
        case 3: h ^= uint32_t(bytes[2]) << 16; [[fallthrough]];
        case 2: h ^= uint32_t(bytes[1]) << 8; [[fallthrough]];
        case 1:
            h ^= uint32_t(bytes[0]);
            h *= m;
    }
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    return h;
}

}  // namespace Fonts
