// Laying out and drawing a screenful of text, against drawing the same number of glyph-sized
// textured quads with one plain indexed draw. The ratio is the cost of text over bare quads.
#include <benchmark/benchmark.h>

#include <glm/gtc/matrix_transform.hpp>

#include <chrono>
#include <thread>

#include "fonts/Context.h"
#include "fonts/Layout.h"
#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "os/FileSystem.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

namespace {

constexpr int W = 1280, H = 720;

struct Scene {
    testing_support::GlTestContext gl{W, H};
    std::unique_ptr<Graphics::Context> graphics;
    std::unique_ptr<Graphics::StandardShader> shader;
    std::unique_ptr<Fonts::Context> fonts;
    std::string screenful;
    bool ready = false;  // the font page loaded within the wait

    Scene() {
        gl.bindTarget();
        Singleton<FileSystem>::instance().mount((testing_support::binaryDir() / "pak0.pak").string());
        graphics = std::make_unique<Graphics::Context>(0x9000000, boost::none);
        shader = std::make_unique<Graphics::StandardShader>(graphics.get());
        fonts = std::make_unique<Fonts::Context>(graphics.get(), "fonts/", "en_US");
        for (int i = 0; i < 5000 && !fonts->font("regularMenu").page->isReady(); ++i) {
            graphics->updateTextures();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ready = fonts->font("regularMenu").page->isReady();
        // 24 lines of 60 characters: a full page of menu text.
        for (int line = 0; line < 24; ++line) {
            for (int c = 0; c < 60; ++c) screenful += char('A' + (line * 7 + c) % 58);
            screenful += '\n';
        }
    }
    void begin() {
        shader->use(Graphics::StandardShader::kColor);
        shader->setPVM(glm::ortho(0.0f, float(W), 0.0f, float(H), -1.0f, 1.0f));
    }
};

Scene& scene() {
    static Scene* s = new Scene();
    return *s;
}

void BM_LayoutAndDrawText(benchmark::State& state) {
    Scene& s = scene();
    if (!s.ready) return state.SkipWithError("the font page did not load within 5 s");
    Fonts::Font font = s.fonts->font("regularMenu");
    Fonts::TextMesh mesh;
    s.begin();
    for (auto _ : state) {
        mesh.clear();
        Fonts::layoutText(font, mesh, {10, H - 40, 0}, s.screenful, Fonts::alignLeft, glm::vec4(1), glm::mat4(1), 1.0f);
        mesh.draw(s.graphics.get(), s.shader.get(), boost::none);
        glFinish();
    }
    state.counters["quads"] = double(mesh.batches.empty() ? 0 : mesh.batches[0].vertices.size() / 4);
    state.SetItemsProcessed(state.iterations() * 24 * 60);
}
BENCHMARK(BM_LayoutAndDrawText)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

// The same glyph quads, built once beforehand, drawn with one plain indexed draw on the same page.
void BM_PlainTexturedQuads(benchmark::State& state) {
    Scene& s = scene();
    if (!s.ready) return state.SkipWithError("the font page did not load within 5 s");
    Fonts::Font font = s.fonts->font("regularMenu");
    Fonts::TextMesh prebuilt;
    Fonts::layoutText(font, prebuilt, {10, H - 40, 0}, s.screenful, Fonts::alignLeft, glm::vec4(1), glm::mat4(1), 1.0f);
    std::vector<Fonts::TextMesh::Vertex> vertices;
    std::vector<uint16_t> indices;
    for (auto const& b : prebuilt.batches) {
        auto base = uint16_t(vertices.size());
        vertices.insert(vertices.end(), b.vertices.begin(), b.vertices.end());
        for (uint16_t i : b.indices) indices.push_back(uint16_t(base + i));
    }
    state.counters["quads"] = double(vertices.size() / 4);
    s.begin();
    for (auto _ : state) {
        s.graphics->setBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        font.page->bind(GL_TEXTURE0);
        s.shader->setColor(glm::vec4(1));
        auto base = reinterpret_cast<uintptr_t>(vertices.data());
        s.shader->setVertexAttribute(0, 0, base, 16, 2, GL_FLOAT);
        s.shader->setVertexAttribute(0, 1, base + 8, 16, 2, GL_FLOAT);
        s.shader->drawElements(0, reinterpret_cast<uintptr_t>(indices.data()), GLsizei(indices.size()), GL_TRIANGLES,
                               GL_UNSIGNED_SHORT);
        s.graphics->restoreBlendFunc();
        glFinish();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(vertices.size() / 4));
}
BENCHMARK(BM_PlainTexturedQuads)->Unit(benchmark::kMicrosecond)->UseRealTime()->MeasureProcessCPUTime();

// Layout alone, without GL, for the CPU share of the text path.
void BM_LayoutOnly(benchmark::State& state) {
    Scene& s = scene();
    if (!s.ready) return state.SkipWithError("the font page did not load within 5 s");
    Fonts::Font font = s.fonts->font("regularMenu");
    Fonts::TextMesh mesh;
    for (auto _ : state) {
        mesh.clear();
        Fonts::layoutText(font, mesh, {10, H - 40, 0}, s.screenful, Fonts::alignLeft, glm::vec4(1), glm::mat4(1), 1.0f);
        benchmark::DoNotOptimize(mesh.batches.data());
    }
}
BENCHMARK(BM_LayoutOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
