// Building the credits (the sample credits walked key by key, each block laid out at its place)
// beside laying out the same texts as one label: the ratio is the cost of the walk and the
// per-block layout over the bare glyph work.
#include <benchmark/benchmark.h>

#include <string>

#include "fonts/Context.h"
#include "fonts/TextLabel.h"
#include "graphics/Context.h"
#include "menus/Credits.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/services/PlatformServices.h"
#include "testing/GlTestContext.h"
#include "testing/TestPaths.h"

namespace {

bool mountOnce() {
    Singleton<FileSystem>::instance().mount((testing_support::binaryDir() / "pak0.pak").string());
    platform_services::setScreenSizes(1280, 720, 320, 180);
    Credits::setSeedForTesting(1);
    return true;
}

// The data is mounted before the fonts read their tables.
struct Rig {
    bool mounted = mountOnce();
    testing_support::GlTestContext gl{320, 180};
    bool bound = (gl.bindTarget(), true);
    Graphics::Context graphics{1 << 30, boost::none};
    Fonts::Context fonts{&graphics, "fonts/", "en_US"};
};

size_t vertexCount(Fonts::TextMesh const& mesh) {
    size_t n = 0;
    for (auto const& b : mesh.batches) n += b.vertices.size();
    return n;
}

Rig& rig() {
    static Rig r;
    return r;
}

void BM_CreditsLayout(benchmark::State& state) {
    Rig& r = rig();
    if (!r.gl.ok()) return state.SkipWithError("no GL context");
    size_t vertices = 0;
    for (auto _ : state) {
        Credits credits(&r.graphics, nullptr, &r.fonts, [] {}, glm::vec4(1.0f), 2, 1.0f);
        vertices = vertexCount(credits.mesh());
        benchmark::DoNotOptimize(vertices);
    }
    state.counters["vertices"] = double(vertices);
}
BENCHMARK(BM_CreditsLayout)->Unit(benchmark::kMicrosecond);

void BM_SameTextAsOneLabel(benchmark::State& state) {
    Rig& r = rig();
    if (!r.gl.ok()) return state.SkipWithError("no GL context");
    std::string text;
    for (int n = 0; n < 100; ++n) {
        std::string const i = std::to_string(n);
        if (!r.fonts.hasString("credits_header_" + i)) {
            if (r.fonts.hasString("credits_header_" + i + "_amazon_only")) continue;
            break;
        }
        for (char const* key : {"credits_header_", "credits_just_names_", "credits_roles_", "credits_names_"})
            if (r.fonts.hasString(key + i)) text += r.fonts.localizedString(key + i) + "\n";
    }
    TextLabel const label(text, glm::vec2(640.0f, -10.0f), r.fonts.font(Fonts::FontStyle::creditsBold), 1, 1.0f);
    size_t vertices = 0;
    for (auto _ : state) {
        Fonts::TextMesh mesh;
        label.draw(mesh, glm::vec2(0.0f), glm::vec4(1.0f), glm::mat4(1.0f));
        vertices = vertexCount(mesh);
        benchmark::DoNotOptimize(vertices);
    }
    state.counters["vertices"] = double(vertices);
}
BENCHMARK(BM_SameTextAsOneLabel)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
