// Text of every shipped language from the sample archive, drawn on a real GL ES 2.0 context and
// read back: ink lies inside the glyph quads and nowhere else.
#include <gtest/gtest.h>

#include <glm/gtc/matrix_transform.hpp>
#include <utf8.h>


#include "fonts/Context.h"
#include "fonts/FontTable.h"
#include "fonts/Layout.h"
#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "os/FileSystem.h"
#include "graphics/tests/TestImages.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

using namespace Fonts;

namespace {

constexpr int W = 640, H = 96;

struct Quad {
    int x0, x1, y0, y1;  // pixel columns [x0, x1), rows [y0, y1) counted from the bottom
};

std::vector<Quad> quadsOf(TextMesh const& mesh) {
    std::vector<Quad> quads;
    for (auto const& b : mesh.batches)
        for (std::size_t i = 0; i + 3 < b.vertices.size(); i += 4)
            quads.push_back({int(b.vertices[i].x), int(b.vertices[i + 1].x), int(b.vertices[i + 2].y),
                             int(b.vertices[i].y)});
    return quads;
}

std::size_t codePointCount(std::string const& text) {
    std::size_t n = 0;
    for (auto it = text.begin(); it != text.end();)
        if (utf8::next(it, text.end()) != '\n') ++n;
    return n;
}

class TextRender : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testing_support::pinGlDriver();
        Singleton<FileSystem>::instance().mount((testing_support::binaryDir() / "pak0.pak").string());
    }
    testing_support::GlTestContext gl{W, H};
};

}  // namespace

// The tables the data tool wrote: every language has every English key, sorted by hash, and
// fonts for every style holding every character its texts use.
TEST_F(TextRender, ShippedTablesAreWholeAndConsistent) {
    auto& fs = Singleton<FileSystem>::instance();
    auto readStrings = [&](std::string const& locale) {
        StringTable t;
        auto file = fs.open("fonts/" + locale + ".strings");
        EXPECT_TRUE(t.read(file->data(), file->size())) << locale;
        return t;
    };
    StringTable english = readStrings("en_US");
    ASSERT_GT(english.entries().size(), 50u);
    for (char const* locale : {"en_US", "de_DE", "es_ES", "fr_FR", "it_IT", "ja_JP", "ko_KR", "pt_BR", "ru_RU",
                               "zh_CN", "zh_TW"}) {
        StringTable strings = readStrings(locale);
        auto const& e = strings.entries();
        ASSERT_EQ(e.size(), english.entries().size()) << locale;
        for (std::size_t i = 0; i < e.size(); ++i) {
            EXPECT_EQ(e[i].first, english.entries()[i].first) << locale;
            if (i) {
                EXPECT_LT(e[i - 1].first, e[i].first) << locale;
            }
        }
        FontTable fonts;
        auto file = fs.open(std::string("fonts/") + locale + ".fonts");
        ASSERT_TRUE(fonts.read(file->data(), file->size())) << locale;
        for (std::string_view const style : fontStyleNames) {
            auto s = fonts.styles.find(std::string(style));
            ASSERT_NE(s, fonts.styles.end()) << locale << " " << style;
            ASSERT_LT(s->second, fonts.fonts.size());
            ASSERT_TRUE(fonts.fontPages.count(s->second));
            EXPECT_LT(fonts.fontPages.at(s->second), fonts.pageFlags.size());
            EXPECT_TRUE(fs.exists(std::string("fonts/") + locale + "_" +
                                  std::to_string(fonts.fontPages.at(s->second)) + ".png"));
            auto const& glyphs = fonts.fonts[s->second].glyphs;
            for (auto const& entry : e)
                for (auto it = entry.second.begin(); it != entry.second.end();) {
                    uint32_t cp = utf8::next(it, entry.second.end());
                    if (cp != '\n') {
                        ASSERT_TRUE(glyphs.count(cp)) << locale << " " << style << " U+" << std::hex << cp;
                    }
                }
        }
    }
}

TEST_F(TextRender, EveryLanguageInksItsGlyphs) {
    ASSERT_TRUE(gl.ok());
    gl.bindTarget();
    ASSERT_TRUE(Singleton<FileSystem>::instance().exists("fonts/en_US.fonts")) << "build the pak target first";
    Graphics::Context graphics(0x9000000, boost::none);
    Graphics::StandardShader shader(&graphics);

    char const* locales[] = {"en_US", "de_DE", "es_ES", "fr_FR", "it_IT", "ja_JP",
                             "ko_KR", "pt_BR", "ru_RU", "zh_CN", "zh_TW"};
    char const* keys[] = {"gamePausedInPauseMenu", "yesPopup", "downloaderNoNetwork", "subtitlesInOptions"};
    for (char const* locale : locales) {
        Context fonts(&graphics, "fonts/", locale);
        ASSERT_FALSE(fonts.pages().empty()) << locale;
        ASSERT_TRUE(gfx_test::loadTextures(graphics)) << locale;
        auto const* page0 = graphics.findTexture(Graphics::Context::hashName(std::string("fonts/") + locale + "_0.png"));
        ASSERT_NE(page0, nullptr);
        EXPECT_EQ(page0->entry.options, TextureOptions(1, 1, 0, 0));
        EXPECT_EQ(page0->entry.loadFlags, 2);
        for (char const* key : keys) {
            std::string const& text = fonts.localizedString(key);
            ASSERT_NE(text, "String not found") << locale << " " << key;
            Font font = fonts.font("regularMenu");
            ASSERT_NE(font.page, nullptr);
            ASSERT_TRUE(font.page->isReady()) << locale;
            TextMesh mesh;
            layoutText(font, mesh, {8, 40, 0}, text, alignLeft, glm::vec4(1), glm::mat4(1), 1.0f);
            auto quads = quadsOf(mesh);
            // Every character of the text has a glyph in the language's font.
            ASSERT_EQ(quads.size(), codePointCount(text)) << locale << " " << text;

            glClearColor(0, 0, 0, 1);
            glClear(GL_COLOR_BUFFER_BIT);
            shader.use(Graphics::StandardShader::kColor);
            shader.setPVM(glm::ortho(0.0f, float(W), 0.0f, float(H), -1.0f, 1.0f));
            mesh.draw(&graphics, &shader, boost::none);
            auto pixels = gl.readPixels();
            auto inked = [&](int x, int y) { return pixels[(y * W + x) * 4] > 96; };

            int glyphsWithInk = 0, glyphsToInk = 0;
            for (auto const& q : quads) {
                if (q.x1 - q.x0 < 3 || q.y1 - q.y0 < 3) continue;  // spaces and dots
                ++glyphsToInk;
                bool any = false;
                for (int y = std::max(q.y0, 0); y < std::min(q.y1, H) && !any; ++y)
                    for (int x = std::max(q.x0, 0); x < std::min(q.x1, W) && !any; ++x) any = inked(x, y);
                glyphsWithInk += any;
            }
            EXPECT_GT(glyphsToInk, 0) << locale << " " << text;
            EXPECT_EQ(glyphsWithInk, glyphsToInk) << locale << " " << text;
            // And no ink outside the quads (text wider than the target is cut at its edge).
            int stray = 0;
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    if (!inked(x, y)) continue;
                    bool inside = false;
                    for (auto const& q : quads) inside |= x >= q.x0 && x < q.x1 && y >= q.y0 && y < q.y1;
                    stray += !inside;
                }
            EXPECT_EQ(stray, 0) << locale << " " << text;
        }
    }
}

namespace {

// English text in the "largeNumber" font, drawn over black.
struct LargeEnglishText {
    Graphics::Context graphics{0x9000000, boost::none};
    Graphics::StandardShader shader{&graphics};
    Context fonts{&graphics, "fonts/", "en_US"};
    TextMesh mesh;

    // Returns the pixels read back, or nothing when the page did not load.
    std::vector<uint8_t> draw(testing_support::GlTestContext& gl, std::string const& text, glm::vec4 const& colour,
                              boost::optional<glm::vec4> const& tint) {
        if (!gfx_test::loadTextures(graphics)) return {};
        layoutText(fonts.font("largeNumber"), mesh, {8, 16, 0}, text, alignLeft, colour, glm::mat4(1), 1.0f);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        shader.use(Graphics::StandardShader::kColor);
        shader.setPVM(glm::ortho(0.0f, float(W), 0.0f, float(H), -1.0f, 1.0f));
        mesh.draw(&graphics, &shader, tint);
        return gl.readPixels();
    }
};

}  // namespace

TEST_F(TextRender, TintMultipliesTheBatchColour) {
    ASSERT_TRUE(gl.ok());
    gl.bindTarget();
    LargeEnglishText scene;
    auto pixels = scene.draw(gl, "888", glm::vec4(1, 1, 0, 1), glm::vec4(1, 0.5f, 1, 1));
    ASSERT_FALSE(pixels.empty());
    int red = 0;
    uint8_t maxGreen = 0, maxBlue = 0;
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        red += pixels[i] > 200;
        maxGreen = std::max(maxGreen, pixels[i + 1]);
        maxBlue = std::max(maxBlue, pixels[i + 2]);
    }
    EXPECT_GT(red, 50);
    EXPECT_LE(maxGreen, 130);  // 1 x 0.5
    EXPECT_EQ(maxBlue, 0);     // 0 x 1
    EXPECT_EQ(scene.graphics.currentProgram(), scene.shader.currentProgram().glName());
}

// Texture coordinates that were upside down or mirrored would still put ink inside the quads:
// "T" carries its bar at the top, "L" its foot at the bottom and its stem on the left.
TEST_F(TextRender, GlyphsAreUpright) {
    ASSERT_TRUE(gl.ok());
    gl.bindTarget();
    LargeEnglishText scene;
    auto pixels = scene.draw(gl, "TL", glm::vec4(1), boost::none);
    ASSERT_FALSE(pixels.empty());
    auto quads = quadsOf(scene.mesh);
    ASSERT_EQ(quads.size(), 2u);
    // Ink in the part of a quad given as fractions of its width and height (from its bottom left).
    auto ink = [&](Quad const& q, float fx0, float fx1, float fy0, float fy1) {
        int n = 0;
        int const w = q.x1 - q.x0, h = q.y1 - q.y0;
        for (int y = q.y0 + int(fy0 * h); y < q.y0 + int(fy1 * h); ++y)
            for (int x = q.x0 + int(fx0 * w); x < q.x0 + int(fx1 * w); ++x)
                if (x >= 0 && x < W && y >= 0 && y < H) n += pixels[(y * W + x) * 4] > 96;
        return n;
    };
    Quad const& t = quads[0];
    Quad const& l = quads[1];
    ASSERT_GT(t.y1 - t.y0, 20);
    EXPECT_GT(ink(t, 0, 1, 0.75f, 1), 2 * ink(t, 0, 1, 0, 0.25f));
    EXPECT_GT(ink(l, 0, 1, 0, 0.25f), 2 * ink(l, 0, 1, 0.75f, 1));
    EXPECT_GT(ink(l, 0, 0.5f, 0.3f, 1), 2 * ink(l, 0.5f, 1, 0.3f, 1));
}
