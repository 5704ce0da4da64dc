#pragma once
// A small RGBA canvas for placeholder art: filled shapes with smoothed edges, a built-in 5x7
// bitmap font for labels, and PNG or WebP encoding.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/datatool/DataTool.h"

namespace datatool {

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(Rgba const&) const = default;
};

class ArtCanvas {
public:
    ArtCanvas(int width, int height, Rgba fill = {0, 0, 0, 0});

    int width() const { return width_; }
    int height() const { return height_; }

    // Paints where inside(x, y) holds, x and y in pixels from the top-left corner; edge pixels
    // are blended by how many of their 4 x 4 samples lie inside.
    void fill(std::function<bool(float, float)> const& inside, Rgba colour);
    void rect(float x0, float y0, float x1, float y1, Rgba colour);
    void roundRect(float x0, float y0, float x1, float y1, float radius, Rgba colour);
    void ellipse(float cx, float cy, float rx, float ry, Rgba colour);
    void ring(float cx, float cy, float outer, float inner, Rgba colour);
    void triangle(float ax, float ay, float bx, float by, float cx, float cy, Rgba colour);
    void star(float cx, float cy, float outer, float inner, Rgba colour);
    void gear(float cx, float cy, float radius, int teeth, float turn, Rgba colour);
    // Left-to-right blend from one colour to the other over the whole canvas.
    void gradient(Rgba from, Rgba to);
    // Clear at both sides, the colour in the middle: a streak that can slide in and out.
    void glint(Rgba colour);

    // Text in the built-in font at an integer scale, centred on (cx, cy). Letters are drawn in
    // capitals; characters the font lacks are left blank.
    void text(std::string const& text, float cx, float cy, int scale, Rgba colour);
    static int textWidth(std::string const& text, int scale);
    static int textHeight(int scale);

    Bytes png() const;
    Bytes webp() const;

private:
    // fill, sampling only the pixels that meet the box (x0, y0)-(x1, y1).
    void fillWithin(std::function<bool(float, float)> const& inside, Rgba colour, float x0, float y0, float x1,
                    float y1);
    std::vector<uint8_t> premultiplied() const;
    void blend(int x, int y, Rgba colour, float coverage);

    int width_, height_;
    std::vector<uint8_t> pixels_;
};

}  // namespace datatool
