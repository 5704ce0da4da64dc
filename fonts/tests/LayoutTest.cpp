// Layout of text into glyph quads, batches, bounds and the label looks.
#include <gtest/gtest.h>

#include <glm/gtc/matrix_transform.hpp>

#include <cmath>
#include <limits>

#include "fonts/LabelStyles.h"
#include "fonts/Layout.h"

using namespace Fonts;

namespace {

int pageA, pageB;
Graphics::Texture const* const page1 = reinterpret_cast<Graphics::Texture const*>(&pageA);
Graphics::Texture const* const page2 = reinterpret_cast<Graphics::Texture const*>(&pageB);
glm::mat4 const identity(1.0f);
glm::vec4 const white(1.0f);

Glyph glyph(float advance, float width = 8, float height = 10, float offsetX = 1, float offsetY = 12) {
    Glyph g;
    g.advance = advance;
    g.width = width;
    g.height = height;
    g.offsetX = offsetX;
    g.offsetY = offsetY;
    float uv[8] = {0.1f, 0.2f, 0.3f, 0.2f, 0.1f, 0.4f, 0.3f, 0.4f};
    std::copy(uv, uv + 8, g.texCoords);
    return g;
}

// 'A' advances 10, 'B' 11, 'C' 12; baseline 3, a line step of 20 x 1.5.
FontRecord testFont() {
    FontRecord f;
    f.baseline = 3;
    f.lineHeight = 20;
    f.lineSpacing = 1.5f;
    f.glyphs['A'] = glyph(10);
    f.glyphs['B'] = glyph(11);
    f.glyphs['C'] = glyph(12);
    f.glyphs[0xFFFD] = glyph(7);
    f.glyphs[0x65E5] = glyph(24);  // 日
    return f;
}

// Left or top edge of every quad in order (corner 0), after the identity transform.
std::vector<float> edges(TextMesh const& mesh, bool top) {
    std::vector<float> out;
    for (auto const& b : mesh.batches)
        for (std::size_t i = 0; i < b.vertices.size(); i += 4) out.push_back(top ? b.vertices[i].y : b.vertices[i].x);
    return out;
}
std::vector<float> leftEdges(TextMesh const& mesh) { return edges(mesh, false); }
std::vector<float> topEdges(TextMesh const& mesh) { return edges(mesh, true); }

}  // namespace

TEST(Layout, AlignmentAndPenOffset) {
    FontRecord f = testFont();
    Font font{page1, &f};
    // Advances 10 + 11 = 21: centred starts at ceil(-10.5) = -10, right at -21, left at the pen offset.
    struct Case {
        int32_t alignment;
        float start;
    } const cases[] = {{alignCentre, -10}, {alignRight, -21}, {alignLeft, 5}, {7, 5}, {-1, 5}};
    for (auto c : cases) {
        TextMesh mesh;
        glm::vec3 r = layoutText(font, mesh, {100, 50, 5}, "AB", c.alignment, white, identity, 1.0f);
        EXPECT_EQ(leftEdges(mesh), (std::vector<float>{100 + c.start + 1, 100 + c.start + 10 + 1})) << c.alignment;
        EXPECT_EQ(r, glm::vec3(100, 50, c.start + 21)) << c.alignment;
        // Quads are whole numbers: top at round(50 + 3 - 12), 8 wide, 10 high.
        auto const& v = mesh.batches.at(0).vertices;
        EXPECT_EQ(v[0].y, 41);
        EXPECT_EQ(v[1].x - v[0].x, 8);
        EXPECT_EQ(v[0].y - v[2].y, 10);
        EXPECT_EQ(v[3].u, 0.3f);
        EXPECT_EQ(v[3].v, 0.4f);
        EXPECT_EQ(mesh.batches[0].indices, (std::vector<uint16_t>{0, 1, 2, 1, 3, 2, 4, 5, 6, 5, 7, 6}));
    }
}

TEST(Layout, ScaleMovesThePenOnlyAndRoundsHalvesAway) {
    FontRecord f = testFont();
    f.glyphs['A'].offsetX = 0.5f;
    TextMesh mesh;
    glm::vec3 r = layoutText({page1, &f}, mesh, {0, 0, 0}, "AA", alignLeft, white, identity, 0.25f);
    EXPECT_EQ(leftEdges(mesh), (std::vector<float>{1, 3}));  // round(0.5), round(2.5 + 0.5)
    EXPECT_EQ(mesh.batches[0].vertices[1].x - mesh.batches[0].vertices[0].x, 8);
    EXPECT_FLOAT_EQ(r.z, 5.0f);
}

TEST(Layout, LinesAreAlignedByTheirOwnWidth) {
    FontRecord f = testFont();
    TextMesh mesh;
    glm::vec3 r = layoutText({page1, &f}, mesh, {100, 50, 9}, "AB\nC", alignCentre, white, identity, 1.0f);
    // First line 21 wide -> starts at 90; second line 12 wide -> ceil(-6) = -6, 30 lower.
    EXPECT_EQ(leftEdges(mesh), (std::vector<float>{91, 101, 95}));
    EXPECT_EQ(topEdges(mesh), (std::vector<float>{41, 41, 11}));
    EXPECT_EQ(r, glm::vec3(100, 20, 6));

    TextMesh trailing;
    EXPECT_EQ(layoutText({page1, &f}, trailing, {100, 50, 9}, "AB\n", alignLeft, white, identity, 1.0f),
              glm::vec3(100, 20, 0));
    TextMesh empty;
    EXPECT_EQ(layoutText({page1, &f}, empty, {1, 2, 3}, "", alignRight, white, identity, 1.0f), glm::vec3(1, 2, 3));
    EXPECT_TRUE(empty.batches.empty());
}

TEST(Layout, MissingGlyphs) {
    FontRecord f = testFont();
    Font font{page1, &f};
    // Left-aligned: the unknown character is skipped without moving the pen.
    TextMesh left;
    glm::vec3 r = layoutText(font, left, {0, 0, 0}, "AzB", alignLeft, white, identity, 1.0f);
    EXPECT_EQ(leftEdges(left), (std::vector<float>{1, 11}));
    EXPECT_EQ(r.z, 21);
    // Right-aligned: the line cannot be measured, nothing of it or later lines is laid out;
    // the lines before it are.
    TextMesh right;
    r = layoutText(font, right, {0, 0, 4}, "AzB", alignRight, white, identity, 1.0f);
    EXPECT_TRUE(right.empty());
    EXPECT_EQ(r, glm::vec3(0, 0, 4));
    TextMesh lines;
    r = layoutText(font, lines, {0, 0, 4}, "A\nBz\nC", alignCentre, white, identity, 1.0f);
    EXPECT_EQ(leftEdges(lines), (std::vector<float>{-5 + 1}));
    EXPECT_EQ(r, glm::vec3(0, -30, 0));
    // A font without glyphs and a handle without a font lay out nothing and never fail.
    FontRecord none;
    TextMesh nothing;
    layoutText({page1, &none}, nothing, {0, 0, 0}, "AB\nC", alignCentre, white, identity, 1.0f);
    EXPECT_EQ(layoutText({page1, &none}, nothing, {0, 0, 4}, "\nC", alignRight, white, identity, 1.0f),
              glm::vec3(0, 0, 4));
    layoutText(Font{}, nothing, {0, 0, 0}, "AB\nC", alignLeft, white, identity, 1.0f);
    EXPECT_TRUE(nothing.empty());
}

TEST(Layout, DamagedTextAndMetricsNeverThrow) {
    FontRecord f = testFont();
    Font font{page1, &f};
    // A stray continuation byte, a cut-off sequence and an overlong form each become U+FFFD.
    for (std::string bad : {std::string("A\x80" "B"), std::string("AB\xe6\x97"), std::string("A\xc0\xaf" "B")}) {
        TextMesh mesh;
        glm::vec3 r(0);
        EXPECT_NO_THROW(r = layoutText(font, mesh, {0, 0, 0}, bad, alignCentre, white, identity, 1.0f));
        EXPECT_GE(leftEdges(mesh).size(), 3u) << bad;
        EXPECT_FALSE(mesh.empty());
    }
    TextMesh cjk;
    layoutText(font, cjk, {0, 0, 0}, "A\xe6\x97\xa5", alignLeft, white, identity, 1.0f);
    EXPECT_EQ(leftEdges(cjk), (std::vector<float>{1, 11}));

    // Non-finite sizes, offsets or scale leave the glyph out.
    FontRecord broken = testFont();
    broken.glyphs['A'].width = std::numeric_limits<float>::infinity();
    broken.glyphs['B'].offsetY = std::nanf("");
    TextMesh mesh;
    EXPECT_NO_THROW(layoutText({page1, &broken}, mesh, {0, 0, 0}, "ABC", alignLeft, white, identity, 1.0f));
    EXPECT_EQ(leftEdges(mesh), (std::vector<float>{22}));
    TextMesh nanScale;
    EXPECT_NO_THROW(layoutText(font, nanScale, {0, 0, 0}, "ABC", alignCentre, white, identity, std::nanf("")));
}

TEST(Layout, ManyLinesDoNotExhaustTheStack) {
    FontRecord f = testFont();
    std::string text(200000, '\n');
    text += "A";
    TextMesh mesh;
    glm::vec3 r = layoutText({page1, &f}, mesh, {0, 0, 0}, text, alignCentre, white, identity, 1.0f);
    EXPECT_FLOAT_EQ(r.y, -200000 * 30.0f);
    EXPECT_EQ(leftEdges(mesh).size(), 1u);
}

TEST(TextMesh, BatchesByPageAndColour) {
    FontRecord f = testFont();
    TextMesh mesh;
    TextLabel a("AB", {0, 0}, {page1, &f}, alignLeft, 1.0f);
    TextLabel b("C", {0, 40}, {page1, &f}, alignLeft, 1.0f);
    a.draw(mesh, {0, 0}, white, identity);
    b.draw(mesh, {0, 0}, white, identity);
    EXPECT_EQ(mesh.batches.size(), 1u);
    EXPECT_EQ(mesh.batches[0].indices.back(), 10);
    b.draw(mesh, {0, 0}, glm::vec4(1, 1, 1, 0.5f), identity);
    EXPECT_EQ(mesh.batches.size(), 2u);
    TextLabel c("A", {0, 0}, {page2, &f}, alignLeft, 1.0f);
    c.draw(mesh, {0, 0}, glm::vec4(1, 1, 1, 0.5f), identity);
    EXPECT_EQ(mesh.batches.size(), 3u);
    EXPECT_EQ(mesh.batches[2].page, page2);
    EXPECT_EQ(mesh.batches[2].indices.front(), 0);
    mesh.clear();
    EXPECT_TRUE(mesh.batches.empty());
}

TEST(TextMesh, FullBatchStartsANewOne) {
    FontRecord f = testFont();
    TextMesh mesh;
    std::string text(16384 + 3, 'A');
    layoutText({page1, &f}, mesh, {0, 0, 0}, text, alignLeft, white, identity, 1.0f);
    ASSERT_EQ(mesh.batches.size(), 2u);
    EXPECT_EQ(mesh.batches[0].vertices.size(), 65536u);
    EXPECT_EQ(mesh.batches[0].indices.back(), 65534);  // last quad: b+2 with b = 65532
    EXPECT_EQ(mesh.batches[1].vertices.size(), 12u);
    EXPECT_EQ(mesh.batches[1].indices.front(), 0);
    for (auto const& b : mesh.batches)
        for (uint16_t i : b.indices) ASSERT_LT(i, b.vertices.size());
}

TEST(TextMesh, BoundsAndEmptiness) {
    TextMesh mesh;
    EXPECT_GT(mesh.bounds().minX, mesh.bounds().maxX);  // no area, whatever it is united with
    EXPECT_TRUE(mesh.empty());
    mesh.batches.push_back({page1, white, {}, {}});
    EXPECT_TRUE(mesh.empty());

    FontRecord f = testFont();
    glm::mat4 shift = glm::translate(glm::mat4(1.0f), glm::vec3(1000, 0, 0));
    layoutText({page1, &f}, mesh, {0, 0, 0}, "AB", alignLeft, white, shift, 1.0f);
    Rect r = mesh.bounds();
    EXPECT_EQ(r.minX, 1001);
    EXPECT_EQ(r.maxX, 1019);
    EXPECT_EQ(r.minY, -19);
    EXPECT_EQ(r.maxY, -9);
    EXPECT_FALSE(mesh.empty());
}

namespace {
struct FakePopIn {
    mutable std::vector<std::pair<glm::vec2, glm::vec4>> calls;
    void draw(TextMesh&, glm::vec2 const& offset, glm::vec4 const& colour) const { calls.push_back({offset, colour}); }
};
}  // namespace

TEST(LabelStyles, PassesAndOffsets) {
    FontRecord f = testFont();
    TextLabel label("A", {10, 20}, {page1, &f}, alignLeft, 1.0f);
    TextMesh emb;
    drawEmbossedLabel(emb, label);
    ASSERT_EQ(emb.batches.size(), 2u);  // the highlight under the text, 2 lower
    EXPECT_EQ(emb.batches[0].vertices[0].y, emb.batches[1].vertices[0].y - 2);
    EXPECT_EQ(emb.batches[0].vertices[0].x, emb.batches[1].vertices[0].x);

    TextMesh sh;
    drawShadowedLabel(sh, label);
    ASSERT_EQ(sh.batches.size(), 2u);
    EXPECT_LT(sh.batches[0].colour.a, sh.batches[1].colour.a);  // the shadow first
    EXPECT_EQ(sh.batches[0].vertices[0].x, sh.batches[1].vertices[0].x + 2);
    EXPECT_EQ(sh.batches[0].vertices[0].y, sh.batches[1].vertices[0].y - 3);

    TextMesh dark;
    drawDarkLabel(dark, label);
    ASSERT_EQ(dark.batches.size(), 1u);
    EXPECT_EQ(label.draw(dark, {1, 2}, white, identity), glm::vec2(11, 22));

    FakePopIn pop;
    drawShadowedWidgetText(dark, pop);
    ASSERT_EQ(pop.calls.size(), 2u);
    EXPECT_EQ(pop.calls[0].first, glm::vec2(2, -3));
    EXPECT_EQ(pop.calls[1].first, glm::vec2(0));
}
