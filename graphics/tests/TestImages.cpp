#include "graphics/tests/TestImages.h"

#include <png.h>
#include <webp/encode.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "graphics/Context.h"

namespace gfx_test {

Bytes pixels(int width, int height, int channels) {
    Bytes out(size_t(width) * height * channels);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                out[(size_t(y) * width + x) * channels + c] = uint8_t(x * 7 + y * 13 + c * 50);
            }
        }
    }
    return out;
}

Bytes png(int width, int height, int channels, Bytes const& px) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = channels == 1 ? PNG_FORMAT_GRAY
                   : channels == 2 ? PNG_FORMAT_GA
                   : channels == 3 ? PNG_FORMAT_RGB
                                   : PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, px.data(), 0, nullptr);
    Bytes out(size);
    png_image_write_to_memory(&image, out.data(), &size, 0, px.data(), 0, nullptr);
    out.resize(size);
    return out;
}

namespace {

Bytes encodeWebp(int width, int height, int channels, Bytes const& px) {
    uint8_t* data = nullptr;
    size_t size = channels == 4 ? WebPEncodeLosslessRGBA(px.data(), width, height, width * 4, &data)
                                : WebPEncodeLosslessRGB(px.data(), width, height, width * 3, &data);
    Bytes out(data, data + size);
    WebPFree(data);
    return out;
}

}  // namespace

Bytes png(int width, int height, int channels) { return png(width, height, channels, pixels(width, height, channels)); }

Bytes solidPng(int width, int height, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    Bytes px(size_t(width) * height * 4);
    for (size_t i = 0; i < px.size(); i += 4) px[i] = r, px[i + 1] = g, px[i + 2] = b, px[i + 3] = a;
    return png(width, height, 4, px);
}

Bytes webp(int width, int height, int channels) {
    return encodeWebp(width, height, channels, pixels(width, height, channels));
}

Bytes solidWebp(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    Bytes px(size_t(width) * height * 3);
    for (size_t i = 0; i < px.size(); i += 3) px[i] = r, px[i + 1] = g, px[i + 2] = b;
    return encodeWebp(width, height, 3, px);
}

std::string writeFile(std::filesystem::path const& path, Bytes const& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<char const*>(bytes.data()), std::streamsize(bytes.size()));
    return path.string();
}

bool loadTextures(Graphics::Context& context) {
    for (int i = 0; i < 5000; ++i) {
        context.updateTextures();
        if (context.texturesLoaded()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

}  // namespace gfx_test
