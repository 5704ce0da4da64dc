#pragma once
#include <cstdint>
#include <map>

namespace Fonts {

struct Glyph {
    float advance = 0;
    float width = 0;
    float height = 0;
    float offsetX = 0;
    float offsetY = 0;
    // (u, v) for the corners top-left, top-right, bottom-left, bottom-right.
    float texCoords[8] = {};
};

struct FontRecord {
    float baseline = 0;
    float lineHeight = 0;
    float lineSpacing = 0;
    std::map<uint32_t, Glyph> glyphs;
};

template <class Archive>
void serialize(Archive& ar, Glyph& g) {
    ar(g.advance, g.width, g.height, g.offsetX, g.offsetY);
    for (float& f : g.texCoords) ar(f);
}

template <class Archive>
void serialize(Archive& ar, FontRecord& f) {
    ar(f.baseline, f.lineHeight, f.lineSpacing, f.glyphs);
}

}  // namespace Fonts
