// Damaged images through the header reader and both decoders, as the texture table and the
// decode workers call them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "graphics/DecompressionQueue.h"
#include "graphics/ImageDecoding.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static std::vector<uint8_t> area(Graphics::DecompressionQueue::kAreaBytes);
    Graphics::ImageInfo info;
    Graphics::readImageInfo(data, size, info, uint16_t(2));
    if (Graphics::readImageInfo(data, size, info, boost::none)) {
        for (uint8_t channels = 1; channels <= 4; ++channels) {
            Graphics::decodeImage(data, size, info.width, info.height, channels, area.data(), area.size());
        }
        // Asked for a size other than the file's: a PNG is refused, a WebP is scaled.
        Graphics::decodeImage(data, size, uint16_t(info.width / 2 + 1), uint16_t(info.height / 3 + 1), info.channels,
                              area.data(), area.size());
    }
    return 0;
}
