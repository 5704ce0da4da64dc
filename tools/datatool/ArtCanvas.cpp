#include "tools/datatool/ArtCanvas.h"

#include <png.h>
#include <webp/encode.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <utility>

namespace datatool {
namespace {

constexpr float pi = 3.14159265f;

// 5 x 7 glyphs, one string of 7 rows per character.
std::map<char, char const*> const& glyphs() {
    static std::map<char, char const*> const g{
        {'A', " ### #   ##   #######   ##   ##   #"}, {'B', "#### #   ##   ##### #   ##   ##### "},
        {'C', " ### #   ##    #    #    #   # ### "}, {'D', "#### #   ##   ##   ##   ##   ##### "},
        {'E', "######    #    #### #    #    #####"}, {'F', "######    #    #### #    #    #    "},
        {'G', " ### #   ##    # ####   ##   # ####"}, {'H', "#   ##   ##   #######   ##   ##   #"},
        {'I', " ###   #    #    #    #    #   ### "}, {'J', "  ###   #    #    #    # #  #  ##  "},
        {'K', "#   ##  # # #  ##   # #  #  # #   #"}, {'L', "#    #    #    #    #    #    #####"},
        {'M', "#   ### ### # ## # ##   ##   ##   #"}, {'N', "#   ##   ###  ## # ##  ###   ##   #"},
        {'O', " ### #   ##   ##   ##   ##   # ### "}, {'P', "#### #   ##   ##### #    #    #    "},
        {'Q', " ### #   ##   ##   ## # ##  #  ## #"}, {'R', "#### #   ##   ##### # #  #  # #   #"},
        {'S', " #####    #     ###     #    ##### "}, {'T', "#####  #    #    #    #    #    #  "},
        {'U', "#   ##   ##   ##   ##   ##   # ### "}, {'V', "#   ##   ##   ##   ##   # # #   #  "},
        {'W', "#   ##   ##   ## # ## # ## # # # # "}, {'X', "#   ##   # # #   #   # # #   ##   #"},
        {'Y', "#   ##   # # #   #    #    #    #  "}, {'Z', "#####    #   #   #   #   #    #####"},
        {'0', " ### #   ##  ### # ###  ##   # ### "}, {'1', "  #   ##    #    #    #    #   ### "},
        {'2', " ### #   #    #   #   #   #   #####"}, {'3', "#####   #   #     #     ##   # ### "},
        {'4', "   #   ##  # # #  # #####   #    # "}, {'5', "######    ####     #    ##   # ### "},
        {'6', "  ##  #   #    #### #   ##   # ### "}, {'7', "#####    #   #   #   #    #    #   "},
        {'8', " ### #   ##   # ### #   ##   # ### "}, {'9', " ### #   ##   # ####    #   #  ##  "},
        {'_', "                              #####"}, {'-', "                ###                "},
        {'.', "                          ##   ##  "}, {'/', "    #    #   #   #   #   #    #    "},
    };
    return g;
}

}  // namespace

ArtCanvas::ArtCanvas(int width, int height, Rgba fill) : width_(width), height_(height) {
    pixels_.resize(size_t(width) * size_t(height) * 4);
    for (size_t i = 0; i < pixels_.size(); i += 4) {
        pixels_[i] = fill.r;
        pixels_[i + 1] = fill.g;
        pixels_[i + 2] = fill.b;
        pixels_[i + 3] = fill.a;
    }
}

void ArtCanvas::blend(int x, int y, Rgba c, float coverage) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || coverage <= 0) return;
    uint8_t* p = &pixels_[(size_t(y) * size_t(width_) + size_t(x)) * 4];
    float sa = c.a / 255.0f * coverage, da = p[3] / 255.0f;
    float oa = sa + da * (1 - sa);
    auto mix = [&](uint8_t s, uint8_t d) {
        return oa > 0 ? uint8_t(std::lround((s * sa + d * da * (1 - sa)) / oa)) : uint8_t(0);
    };
    p[0] = mix(c.r, p[0]);
    p[1] = mix(c.g, p[1]);
    p[2] = mix(c.b, p[2]);
    p[3] = uint8_t(std::lround(oa * 255));
}

void ArtCanvas::fill(std::function<bool(float, float)> const& inside, Rgba colour) {
    fillWithin(inside, colour, 0, 0, float(width_), float(height_));
}

namespace {

// The pixels [first, last) whose samples can fall in [lo, hi), with a pixel to spare on each side
// for rounding; a bound that is not a number leaves its side open.
std::pair<int, int> span(float lo, float hi, int size) {
    int const first = lo > 1.0f ? int(std::min(std::floor(lo) - 1.0f, float(size))) : 0;
    int const last = hi < float(size) - 1.0f ? int(std::max(std::ceil(hi) + 1.0f, 0.0f)) : size;
    return {first, last};
}

}  // namespace

// A shape samples only the pixels near its bounding box: a scene's sky is hundreds of one-row
// rectangles, and sampling the whole canvas for each made the art take minutes.
void ArtCanvas::fillWithin(std::function<bool(float, float)> const& inside, Rgba colour, float x0, float y0,
                           float x1, float y1) {
    auto const [left, right] = span(x0, x1, width_);
    auto const [top, bottom] = span(y0, y1, height_);
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            int hits = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx) hits += inside(x + (sx + 0.5f) / 4, y + (sy + 0.5f) / 4);
            blend(x, y, colour, hits / 16.0f);
        }
}

void ArtCanvas::rect(float x0, float y0, float x1, float y1, Rgba colour) {
    fillWithin([=](float x, float y) { return x >= x0 && x < x1 && y >= y0 && y < y1; }, colour, x0, y0, x1, y1);
}

void ArtCanvas::roundRect(float x0, float y0, float x1, float y1, float r, Rgba colour) {
    fillWithin(
        [=](float x, float y) {
            if (x < x0 || x >= x1 || y < y0 || y >= y1) return false;
            float dx = std::max({x0 + r - x, 0.0f, x - (x1 - r)});
            float dy = std::max({y0 + r - y, 0.0f, y - (y1 - r)});
            return dx * dx + dy * dy <= r * r;
        },
        colour, x0, y0, x1, y1);
}

void ArtCanvas::ellipse(float cx, float cy, float rx, float ry, Rgba colour) {
    fillWithin([=](float x, float y) { return std::pow((x - cx) / rx, 2.0f) + std::pow((y - cy) / ry, 2.0f) <= 1; },
               colour, cx - std::abs(rx), cy - std::abs(ry), cx + std::abs(rx), cy + std::abs(ry));
}

void ArtCanvas::ring(float cx, float cy, float outer, float inner, Rgba colour) {
    fillWithin(
        [=](float x, float y) {
            float d = std::hypot(x - cx, y - cy);
            return d <= outer && d >= inner;
        },
        colour, cx - outer, cy - outer, cx + outer, cy + outer);
}

void ArtCanvas::triangle(float ax, float ay, float bx, float by, float cx, float cy, Rgba colour) {
    fillWithin(
        [=](float x, float y) {
            auto side = [&](float px, float py, float qx, float qy) { return (qx - px) * (y - py) - (qy - py) * (x - px); };
            float a = side(ax, ay, bx, by), b = side(bx, by, cx, cy), c = side(cx, cy, ax, ay);
            return (a >= 0 && b >= 0 && c >= 0) || (a <= 0 && b <= 0 && c <= 0);
        },
        colour, std::min({ax, bx, cx}), std::min({ay, by, cy}), std::max({ax, bx, cx}), std::max({ay, by, cy}));
}

void ArtCanvas::star(float cx, float cy, float outer, float inner, Rgba colour) {
    // Ten corners alternating between the two radii, the first point straight up.
    std::vector<std::pair<float, float>> corners;
    for (int i = 0; i < 10; ++i) {
        float angle = -pi / 2 + float(i) * pi / 5, r = i % 2 ? inner : outer;
        corners.emplace_back(cx + r * std::cos(angle), cy + r * std::sin(angle));
    }
    float const reach = std::max(std::abs(outer), std::abs(inner));
    fillWithin(
        [&](float x, float y) {
            bool inside = false;
            for (size_t i = 0, j = corners.size() - 1; i < corners.size(); j = i++) {
                auto [xi, yi] = corners[i];
                auto [xj, yj] = corners[j];
                if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) inside = !inside;
            }
            return inside;
        },
        colour, cx - reach, cy - reach, cx + reach, cy + reach);
}

void ArtCanvas::gear(float cx, float cy, float radius, int teeth, float turn, Rgba colour) {
    fillWithin(
        [=](float x, float y) {
            float d = std::hypot(x - cx, y - cy);
            if (d < radius * 0.35f) return false;  // axle hole
            float angle = std::atan2(y - cy, x - cx) + turn * 2 * pi;
            float tooth = std::fmod(angle * teeth / (2 * pi) + 64.0f * teeth, 1.0f);
            return d <= (tooth < 0.5f ? radius : radius * 0.8f);
        },
        colour, cx - radius, cy - radius, cx + radius, cy + radius);
}

void ArtCanvas::gradient(Rgba from, Rgba to) {
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            float t = width_ > 1 ? float(x) / float(width_ - 1) : 0;
            uint8_t* p = &pixels_[(size_t(y) * size_t(width_) + size_t(x)) * 4];
            p[0] = uint8_t(std::lround(from.r + (to.r - from.r) * t));
            p[1] = uint8_t(std::lround(from.g + (to.g - from.g) * t));
            p[2] = uint8_t(std::lround(from.b + (to.b - from.b) * t));
            p[3] = uint8_t(std::lround(from.a + (to.a - from.a) * t));
        }
}

void ArtCanvas::glint(Rgba colour) {
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            float const t = width_ > 1 ? float(x) / float(width_ - 1) : 0.5f;
            uint8_t* p = &pixels_[(size_t(y) * size_t(width_) + size_t(x)) * 4];
            p[0] = colour.r;
            p[1] = colour.g;
            p[2] = colour.b;
            p[3] = uint8_t(std::lround(colour.a * std::max(0.0f, 1.0f - std::abs(2.0f * t - 1.0f) * 1.25f)));
        }
}

int ArtCanvas::textWidth(std::string const& text, int scale) {
    return text.empty() ? 0 : int(text.size() * 6 - 1) * scale;
}

int ArtCanvas::textHeight(int scale) { return 7 * scale; }

void ArtCanvas::text(std::string const& text, float cx, float cy, int scale, Rgba colour) {
    int left = int(std::lround(cx - textWidth(text, scale) / 2.0f));
    int top = int(std::lround(cy - textHeight(scale) / 2.0f));
    for (size_t i = 0; i < text.size(); ++i) {
        auto it = glyphs().find(char(std::toupper(static_cast<unsigned char>(text[i]))));
        if (it == glyphs().end()) continue;
        std::string rows = it->second;
        rows.resize(35, ' ');
        for (int gy = 0; gy < 7; ++gy)
            for (int gx = 0; gx < 5; ++gx)
                if (rows[size_t(gy * 5 + gx)] == '#')
                    for (int py = 0; py < scale; ++py)
                        for (int px = 0; px < scale; ++px)
                            blend(left + int(i) * 6 * scale + gx * scale + px, top + gy * scale + py, colour, 1);
    }
}

// The engine blends with (1, 1 - source alpha), so images are stored with their colour already
// multiplied by alpha; straight colour would light up every soft or transparent edge.
std::vector<uint8_t> ArtCanvas::premultiplied() const {
    std::vector<uint8_t> out(pixels_);
    for (size_t i = 0; i + 3 < out.size(); i += 4)
        for (size_t c = 0; c < 3; ++c) out[i + c] = uint8_t((unsigned(out[i + c]) * out[i + 3] + 127) / 255);
    return out;
}

Bytes ArtCanvas::png() const {
    std::vector<uint8_t> const pixels = premultiplied();
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width_);
    image.height = png_uint_32(height_);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr)) return {};
    Bytes out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr)) return {};
    out.resize(size);
    return out;
}

Bytes ArtCanvas::webp() const {
    std::vector<uint8_t> const pixels = premultiplied();
    bool opaque = true;
    for (size_t i = 3; i < pixels.size() && opaque; i += 4) opaque = pixels[i] == 255;
    uint8_t* encoded = nullptr;
    size_t size = 0;
    if (opaque) {
        size = WebPEncodeRGBA(pixels.data(), width_, height_, width_ * 4, 80.0f, &encoded);
    } else {
        // Lossy colour drifts above its alpha at soft edges and gets invented under transparent
        // pixels; blended as premultiplied, both show as a light blocky fringe. Images with any
        // transparency keep their exact pixels.
        WebPConfig config;
        WebPPicture picture;
        WebPMemoryWriter writer;
        WebPMemoryWriterInit(&writer);
        if (WebPConfigInit(&config) && WebPPictureInit(&picture)) {
            config.lossless = 1;
            config.exact = 1;
            picture.use_argb = 1;
            picture.width = width_;
            picture.height = height_;
            picture.writer = WebPMemoryWrite;
            picture.custom_ptr = &writer;
            if (WebPPictureImportRGBA(&picture, pixels.data(), width_ * 4) && WebPEncode(&config, &picture)) {
                encoded = writer.mem;
                size = writer.size;
                writer.mem = nullptr;
            }
            WebPPictureFree(&picture);
        }
        WebPMemoryWriterClear(&writer);
    }
    Bytes out(encoded, encoded + size);
    WebPFree(encoded);
    return out;
}

}  // namespace datatool
