// Culling a level of 10,000 drawables: the draw list's tree query against a brute-force test of
// every box with the same four planes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "graphics/DrawList.h"

namespace {

constexpr int kDrawables = 10000;

PristineLevel::MeshSet level() {
    PristineLevel::MeshSet set;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> x(0.0f, 2000.0f);
    std::uniform_real_distribution<float> y(-20.0f, 20.0f);
    std::uniform_real_distribution<float> size(0.2f, 3.0f);
    std::uniform_int_distribution<int> kind(2, 8);
    for (int i = 0; i < kDrawables; ++i) {
        PristineLevel::MeshNode n;
        int k = kind(random);
        n.kind = std::uint16_t(k == 5 || k == 6 ? 3 : k);  // no entries needed for these kinds
        float const cx = x(random);
        float const cy = y(random);
        float const h = size(random);
        n.box.min = {cx - h, cy - h, 0, 0};
        n.box.max = {cx + h, cy + h, 0, 0};
        set.nodes.push_back(n);
    }
    return set;
}

// The camera's view at one point of the level: 1280 x 720 pixels at 85 pixels a metre.
DrawList::View viewAt(float x) {
    DrawList::View v;
    v.normals = {btVector3(1, 0, 0), btVector3(-1, 0, 0), btVector3(0, 1, 0), btVector3(0, -1, 0)};
    float const hw = 1280.0f / 85.0f / 2.0f;
    float const hh = 720.0f / 85.0f / 2.0f;
    v.offsets = {-(x - hw), x + hw, hh, hh};
    v.position = {x, 0.0f};
    return v;
}

void BM_TreeCulling(benchmark::State& state) {
    unsetenv("ZELV_DEVICE_MODEL");
    PristineLevel::MeshSet const set = level();
    DrawList list(nullptr, set, nullptr, nullptr);
    float x = 0.0f;
    std::size_t seen = 0;
    for (auto _ : state) {
        list.updateGL(viewAt(x));
        seen += list.visibleHandles().size();
        x = x >= 2000.0f ? 0.0f : x + 7.0f;
    }
    benchmark::DoNotOptimize(seen);
}
BENCHMARK(BM_TreeCulling);

// Every box against every plane, in level order, then the same partition by kind.
void BM_BruteForceCulling(benchmark::State& state) {
    PristineLevel::MeshSet const set = level();
    std::vector<std::pair<PristineLevel::MeshNode const*, float>> visible;
    float x = 0.0f;
    std::size_t seen = 0;
    for (auto _ : state) {
        DrawList::View const v = viewAt(x);
        visible.clear();
        for (PristineLevel::MeshNode const& n : set.nodes) {
            bool inside = true;
            for (int p = 0; p < 4 && inside; ++p) {
                btVector3 const& normal = v.normals[std::size_t(p)];
                // The corner farthest along the normal decides.
                float const fx = normal.x() >= 0 ? n.box.max.x : n.box.min.x;
                float const fy = normal.y() >= 0 ? n.box.max.y : n.box.min.y;
                inside = normal.x() * fx + normal.y() * fy + v.offsets[std::size_t(p)] >= 0;
            }
            if (inside) {
                visible.emplace_back(&n, 0.0f);
            }
        }
        auto gold = std::stable_partition(visible.begin(), visible.end(), [](auto const& e) { return e.first->kind == 7; });
        std::stable_partition(gold, visible.end(), [](auto const& e) { return e.first->kind == 5 || e.first->kind == 6; });
        seen += visible.size();
        x = x >= 2000.0f ? 0.0f : x + 7.0f;
    }
    benchmark::DoNotOptimize(seen);
}
BENCHMARK(BM_BruteForceCulling);

}  // namespace

BENCHMARK_MAIN();
