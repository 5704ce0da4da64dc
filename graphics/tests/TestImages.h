#pragma once
// Small images made in memory for the decoding and texture tests, and the loop that loads them.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace Graphics {
class Context;
}

namespace gfx_test {

using Bytes = std::vector<uint8_t>;

// Pixels of `channels` bytes; pixel (x, y) is pattern(x, y, channel).
Bytes pixels(int width, int height, int channels);
// A PNG of the given layout (1 grey, 2 grey + alpha, 3 RGB, 4 RGBA) holding pixels(), or `px`.
Bytes png(int width, int height, int channels);
Bytes png(int width, int height, int channels, Bytes const& px);
// A PNG of one flat colour.
Bytes solidPng(int width, int height, uint8_t r, uint8_t g, uint8_t b, uint8_t a);
// A lossless WebP of pixels() (3 or 4 channels).
Bytes webp(int width, int height, int channels);
Bytes solidWebp(int width, int height, uint8_t r, uint8_t g, uint8_t b);
// Returns the path, as the texture descriptors take it.
std::string writeFile(std::filesystem::path const& path, Bytes const& bytes);
// Texture passes until nothing is left to decode or upload; false after about five seconds.
bool loadTextures(Graphics::Context& context);

}  // namespace gfx_test
