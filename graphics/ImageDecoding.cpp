#include "graphics/ImageDecoding.h"

#include <png.h>
#include <webp/decode.h>

#include <cstring>
#include <limits>

#include "graphics/GraphicsLog.h"
#include "os/File.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/TextureDescriptor.h"

namespace Graphics {

namespace {

constexpr uint32_t kMaxSide = std::numeric_limits<uint16_t>::max();

uint8_t pngChannels(png_uint_32 format) {
    switch (format) {
    case PNG_FORMAT_GRAY: return 1;
    case PNG_FORMAT_GA: return 2;
    case PNG_FORMAT_RGB: return 3;
    case PNG_FORMAT_RGBA: return 4;
    default: return 4;
    }
}

png_uint_32 pngFormatFor(uint8_t channels) {
    switch (channels) {
    case 1: return PNG_FORMAT_GRAY;
    case 2: return PNG_FORMAT_GA;
    case 3: return PNG_FORMAT_RGB;
    default: return PNG_FORMAT_RGBA;
    }
}

bool isPng(uint8_t const* data, size_t size) { return size >= 8 && png_sig_cmp(data, 0, 8) == 0; }

bool decodePng(uint8_t const* data, size_t size, uint16_t width, uint16_t height, uint8_t channels, uint8_t* out,
               size_t capacity) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) return false;
    image.format = pngFormatFor(channels);
    // The output must be exactly the size the texture table reserved, and fit the area.
    if (image.width != width || image.height != height || PNG_IMAGE_SIZE(image) > capacity) {
        png_image_free(&image);
        return false;
    }
    bool ok = png_image_finish_read(&image, nullptr, out, 0, nullptr) != 0;
    png_image_free(&image);
    return ok;
}

bool decodeWebp(uint8_t const* data, size_t size, uint16_t width, uint16_t height, uint8_t channels, uint8_t* out,
                size_t capacity) {
    if ((channels != 3 && channels != 4) || width == 0 || height == 0) return false;
    size_t const bytes = size_t(width) * height * channels;
    if (bytes > capacity) return false;
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return false;
    if (WebPGetFeatures(data, size, &config.input) != VP8_STATUS_OK) return false;
    config.output.colorspace = channels == 4 ? MODE_RGBA : MODE_RGB;
    config.options.bypass_filtering = 1;
    config.options.no_fancy_upsampling = 1;
    if (config.input.width != width || config.input.height != height) {
        config.options.use_scaling = 1;
        config.options.scaled_width = width;
        config.options.scaled_height = height;
    }
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = out;
    config.output.u.RGBA.stride = int(width) * channels;
    config.output.u.RGBA.size = bytes;
    bool ok = WebPDecode(data, size, &config) == VP8_STATUS_OK;
    WebPFreeDecBuffer(&config.output);
    return ok;
}

}  // namespace

bool readImageInfo(uint8_t const* data, size_t size, ImageInfo& info, boost::optional<uint16_t> downscale) {
    info = ImageInfo{};
    if (!data || size == 0) return false;
    if (isPng(data, size)) {
        png_image image;
        std::memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_memory(&image, data, size)) return false;
        png_uint_32 const w = image.width, h = image.height, format = image.format;
        png_image_free(&image);
        if (w > kMaxSide || h > kMaxSide) return false;
        info.width = uint16_t(w);
        info.height = uint16_t(h);
        info.channels = pngChannels(format);
        return true;
    }
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(data, size, &features) != VP8_STATUS_OK) return false;
    if (features.width <= 0 || features.height <= 0 || uint32_t(features.width) > kMaxSide ||
        uint32_t(features.height) > kMaxSide) {
        return false;
    }
    uint32_t w = uint32_t(features.width), h = uint32_t(features.height);
    if (downscale) {
        w = *downscale ? w / *downscale : 0;
        h = *downscale ? h / *downscale : 0;
    }
    info.width = uint16_t(w);
    info.height = uint16_t(h);
    info.channels = features.has_alpha ? 4 : 3;
    return true;
}

void readImageInfo(TextureDescriptor const& descriptor, uint16_t& width, uint16_t& height, uint8_t& channels,
                   boost::optional<uint16_t> downscale) {
    auto file = Singleton<FileSystem>::instance().open(descriptor.path);
    ImageInfo info;
    if (!readImageInfo(file->data(), file->size(), info, downscale)) {
        logLine("cannot read the image header of \"" + descriptor.path + "\"; it stays empty");
    }
    width = info.width;
    height = info.height;
    channels = info.channels;
}

bool decodeImage(uint8_t const* data, size_t size, uint16_t width, uint16_t height, uint8_t channels, uint8_t* out,
                 size_t capacity) {
    if (!data || size == 0 || !out || channels < 1 || channels > 4) return false;
    if (isPng(data, size)) return decodePng(data, size, width, height, channels, out, capacity);
    return decodeWebp(data, size, width, height, channels, out, capacity);
}

}  // namespace Graphics
