// What drawing a text mesh asks of GL, counted with a recording GL table: one draw per batch
// whose page is loaded, the batch colour times the tint, the blend function restored.
#include <gtest/gtest.h>

#include "fonts/Layout.h"
#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "graphics/Texture.h"
#include "graphics/tests/FakeGl.h"

using namespace Fonts;

namespace {

struct Fixture {
    gfx_test::FakeGl gl;
    Graphics::Context graphics{0x9000000, boost::none, Graphics::Context::Workers{1, false}};
    Graphics::StandardShader shader{&graphics};

    Graphics::TextureEntry& entryOf(std::string const& path) {
        return graphics.findTexture(Graphics::Context::hashName(path))->entry;
    }
    // Pretends the page finished loading as GL texture `name`.
    void load(std::string const& path, GLuint name) {
        auto& e = entryOf(path);
        e.glName = name;
        e.resident = 1;
    }
};

FontRecord oneGlyphFont() {
    FontRecord f;
    Glyph g;
    g.advance = 10;
    g.width = g.height = 8;
    f.glyphs['a'] = g;
    return f;
}

}  // namespace

TEST(TextMeshDraw, DrawsLoadedPagesOnlyWithTintAndRestoresBlending) {
    Fixture fx;
    Graphics::Texture ready(&fx.graphics, TextureDescriptor("fonts/xx_0.png", TextureOptions(1, 1, 0, 0), 2));
    Graphics::Texture loading(&fx.graphics, TextureDescriptor("fonts/xx_1.png", TextureOptions(1, 1, 0, 0), 2));
    fx.load("fonts/xx_0.png", 41);
    EXPECT_TRUE(ready.isReady());
    EXPECT_FALSE(loading.isReady());

    FontRecord f = oneGlyphFont();
    TextMesh mesh;
    layoutText({&ready, &f}, mesh, {0, 0, 0}, "aaa", alignLeft, glm::vec4(1, 0.5f, 0.25f, 1), glm::mat4(1), 1.0f);
    layoutText({&loading, &f}, mesh, {0, 0, 0}, "a", alignLeft, glm::vec4(1), glm::mat4(1), 1.0f);
    layoutText({nullptr, &f}, mesh, {0, 0, 0}, "a", alignLeft, glm::vec4(1), glm::mat4(1), 1.0f);
    ASSERT_EQ(mesh.batches.size(), 3u);

    fx.shader.use(Graphics::StandardShader::kColor);
    fx.gl.clear();
    mesh.draw(&fx.graphics, &fx.shader, glm::vec4(0.5f, 1, 1, 0.5f));

    auto draws = fx.gl.callsOf("drawElements");
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].args[0], GL_TRIANGLES);
    EXPECT_EQ(draws[0].args[1], 18);
    EXPECT_EQ(draws[0].args[2], GL_UNSIGNED_SHORT);
    auto binds = fx.gl.callsOf("bindTexture");
    ASSERT_EQ(binds.size(), 1u);
    EXPECT_EQ(binds[0].args[1], 41);
    auto blends = fx.gl.callsOf("blendFunc");
    ASSERT_EQ(blends.size(), 2u);
    EXPECT_EQ(blends[0].args, (std::vector<long long>{GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA}));
    EXPECT_EQ(blends[1].args, (std::vector<long long>{GL_ONE, GL_ONE_MINUS_SRC_ALPHA}));
    EXPECT_EQ(fx.shader.color(), glm::vec4(0.5f, 0.5f, 0.25f, 0.5f));
    EXPECT_EQ(fx.gl.count("vertexAttribPointer"), 2);

    // An empty mesh draws nothing and leaves the default blend function behind.
    fx.gl.clear();
    TextMesh().draw(&fx.graphics, &fx.shader, boost::none);
    EXPECT_EQ(fx.gl.count("drawElements"), 0);
    blends = fx.gl.callsOf("blendFunc");
    ASSERT_FALSE(blends.empty());
    EXPECT_EQ(blends.back().args, (std::vector<long long>{GL_ONE, GL_ONE_MINUS_SRC_ALPHA}));
}
