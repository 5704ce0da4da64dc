#include "fonts/Layout.h"

#include <boost/math/special_functions/round.hpp>
#include <glm/common.hpp>
#include <utf8.h>

#include <cmath>

#include "graphics/DrawRecord.h"

namespace Fonts {
namespace {

using Iterator = std::string::const_iterator;

FontRecord const& emptyFont() {
    static FontRecord const font;
    return font;
}

// Lays out valid UTF-8. Lines are walked in a loop rather than by recursion so that a text of
// many thousand newlines cannot exhaust the stack.
glm::vec3 layoutValid(FontRecord const& font, Graphics::Texture const* page, glm::vec3 origin, Iterator begin, Iterator end,
                      TextMesh& mesh, int32_t alignment, glm::vec4 const& colour, glm::mat4 const& transform,
                      float scale) {
    for (;;) {
        if (begin == end) return origin;
        float start = origin.z;
        if (alignment == alignCentre || alignment == alignRight) {
            // A font without glyphs can measure nothing, not even after an empty first line.
            if (font.glyphs.empty()) return origin;
            float const f = alignment == alignCentre ? 0.5f : 1.0f;
            float w = 0;
            for (Iterator it = begin; it != end;) {
                uint32_t cp = utf8::unchecked::next(it);
                if (cp == '\n') break;
                auto g = font.glyphs.find(cp);
                // A line that cannot be measured cannot be aligned: nothing more is laid out.
                if (g == font.glyphs.end()) return origin;
                w -= f * g->second.advance * scale;
            }
            start = std::ceil(w);
        }
        float pen = origin.x + start;
        float const lineY = origin.y + font.baseline;
        bool newline = false;
        Iterator it = begin;
        while (it != end) {
            uint32_t cp = utf8::unchecked::next(it);
            if (cp == '\n') {
                newline = true;
                break;
            }
            auto g = font.glyphs.find(cp);
            if (g == font.glyphs.end()) continue;
            addGlyph(g->second, mesh, page, colour, transform, pen, lineY);
            pen += g->second.advance * scale;
        }
        if (!newline) return {origin.x, origin.y, pen - origin.x};
        origin = {origin.x, origin.y - font.lineHeight * font.lineSpacing, 0.0f};
        begin = it;
    }
}

}  // namespace

glm::vec3 layoutLine(FontRecord const& font, Graphics::Texture const* page, glm::vec3 const& origin, Iterator begin,
                     Iterator end, TextMesh& mesh, int32_t alignment, glm::vec4 const& colour,
                     glm::mat4 const& transform, float scale) {
    if (utf8::is_valid(begin, end))
        return layoutValid(font, page, origin, begin, end, mesh, alignment, colour, transform, scale);
    // Text from files or the network may be damaged: draw U+FFFD in place of bad sequences.
    std::string repaired;
    utf8::replace_invalid(begin, end, std::back_inserter(repaired));
    return layoutValid(font, page, origin, repaired.cbegin(), repaired.cend(), mesh, alignment, colour, transform,
                       scale);
}

glm::vec3 layoutText(Font const& font, TextMesh& mesh, glm::vec3 const& origin, std::string const& text,
                     int32_t alignment, glm::vec4 const& colour, glm::mat4 const& transform, float scale) {
    FontRecord const& record = font.font ? *font.font : emptyFont();
    if (!Graphics::DrawRecord::on())
        return layoutLine(record, font.page, origin, text.cbegin(), text.cend(), mesh, alignment, colour, transform,
                          scale);
    // Where this text's vertices begin, to box them once laid out.
    size_t const firstBatch = mesh.batches.empty() ? 0 : mesh.batches.size() - 1;
    size_t const firstVertex = mesh.batches.empty() ? 0 : mesh.batches.back().vertices.size();
    glm::vec3 const end = layoutLine(record, font.page, origin, text.cbegin(), text.cend(), mesh, alignment, colour,
                                     transform, scale);
    glm::vec2 lo(1e30f), hi(-1e30f);
    for (size_t b = firstBatch; b < mesh.batches.size(); ++b)
        for (size_t v = b == firstBatch ? firstVertex : 0; v < mesh.batches[b].vertices.size(); ++v) {
            glm::vec2 const p(mesh.batches[b].vertices[v].x, mesh.batches[b].vertices[v].y);
            lo = glm::min(lo, p);
            hi = glm::max(hi, p);
        }
    if (lo.x <= hi.x) mesh.labels.push_back({text, lo, hi, colour, Graphics::DrawRecord::owner()});
    return end;
}

void addGlyph(Glyph const& glyph, TextMesh& mesh, Graphics::Texture const* page, glm::vec4 const& colour,
              glm::mat4 const& transform, float penX, float lineY) {
    float const left = glyph.offsetX + penX;
    float const top = lineY - glyph.offsetY;
    // Rounding a non-finite value has no answer; such a glyph is left out.
    if (!std::isfinite(left) || !std::isfinite(top) || !std::isfinite(glyph.width) || !std::isfinite(glyph.height))
        return;
    float const x0 = boost::math::round(left);
    float const y0 = boost::math::round(top);
    float const w = boost::math::round(glyph.width);
    float const h = boost::math::round(glyph.height);
    glm::vec2 const corners[4] = {{x0, y0}, {x0 + w, y0}, {x0, y0 - h}, {x0 + w, y0 - h}};
    glm::vec2 const uvs[4] = {{glyph.texCoords[0], glyph.texCoords[1]},
                              {glyph.texCoords[2], glyph.texCoords[3]},
                              {glyph.texCoords[4], glyph.texCoords[5]},
                              {glyph.texCoords[6], glyph.texCoords[7]}};
    TextMesh::addQuad(mesh, uvs, corners, page, colour, transform);
}

}  // namespace Fonts
