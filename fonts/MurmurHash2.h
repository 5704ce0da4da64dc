#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Fonts {

// Seed of the string-table key hash; the tables on disk are keyed by it.
inline constexpr uint32_t stringKeySeed = 0x539;

// 32-bit MurmurHash2 over bytes, read little-endian whatever the host order.
uint32_t murmurHash2(void const* data, std::size_t length, uint32_t seed);

inline uint32_t stringKeyHash(std::string_view key) {
    return murmurHash2(key.data(), key.size(), stringKeySeed);
}

}  // namespace Fonts
