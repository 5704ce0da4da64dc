#pragma once
// Header reads and pixel decoding of the texture images (PNG through libpng, WebP through
// libwebp). Pure functions over bytes: the decode workers, the texture table and the fuzzer
// share them.
#include <boost/optional.hpp>

#include <cstddef>
#include <cstdint>

struct TextureDescriptor;

namespace Graphics {

struct ImageInfo {
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t channels = 3;
};

// Width, height and channels from the header. PNG: grey 1, grey + alpha 2, RGB 3, RGBA 4, any
// other layout 4; never scaled. WebP: 4 with alpha, else 3; divided by `downscale` when given.
// False for anything else, or sides too large for a texture; `info` is then 0 x 0 with 3 channels.
bool readImageInfo(uint8_t const* data, size_t size, ImageInfo& info, boost::optional<uint16_t> downscale);

// The same for a file of the data archives; a missing or unreadable file is 0 x 0 with 3 channels.
void readImageInfo(TextureDescriptor const& descriptor, uint16_t& width, uint16_t& height, uint8_t& channels,
                   boost::optional<uint16_t> downscale);

// Decodes into `out` as width x height pixels of `channels` bytes, rows packed. A WebP image
// whose own size differs is scaled to width x height; a PNG must have exactly that size.
// False, with `out` holding nothing useful, when the bytes are damaged, the image does not match
// what was asked, or the pixels would not fit in `capacity` bytes.
bool decodeImage(uint8_t const* data, size_t size, uint16_t width, uint16_t height, uint8_t channels, uint8_t* out,
                 size_t capacity);

}  // namespace Graphics
