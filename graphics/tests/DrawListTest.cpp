// Culling, ordering and validation of the draw list, without GL (no context: no buffers made).
#include <gtest/gtest.h>

#include <cstdlib>
#include <glm/gtc/matrix_transform.hpp>
#include <limits>

#include "graphics/DrawList.h"
#include "graphics/Drawable.h"
#include "graphics/tests/MeshTestData.h"

using PristineLevel::MeshNode;
using PristineLevel::MeshSet;

using gfx_test::arrayMesh;
using gfx_test::node;
using gfx_test::window;

namespace {

MeshSet withBuffers(std::size_t vertices) {
    MeshSet set;
    set.vertexBuffers.push_back({std::vector<std::uint8_t>(vertices * 8), 1});
    return set;
}

std::vector<std::uint32_t> kinds(DrawList const& list) {
    std::vector<std::uint32_t> out;
    for (auto const* h : list.visibleHandles()) out.push_back(h->kind);
    return out;
}

std::vector<std::size_t> indicesOf(DrawList const& list) {
    std::vector<std::size_t> out;
    for (auto const* h : list.visibleHandles()) out.push_back(std::size_t(h - &list.handleRecord(0)));
    return out;
}

struct NotLowEnd : ::testing::Test {
    void SetUp() override { unsetenv("ZELV_DEVICE_MODEL"); }
};

}  // namespace

using DrawListCulling = NotLowEnd;

TEST_F(DrawListCulling, ReturnsTheVisibleInLevelOrderGoldThenLightsThenTheRest) {
    MeshSet set = withBuffers(4);
    set.arrayMeshes = {arrayMesh(0, 4), arrayMesh(0, 4)};
    set.nodes = {
        node(MeshNode::player, 0, 0),         // 0
        node(MeshNode::arrayEntry, 0, 1),     // 1
        node(MeshNode::goldComposite, 0, 2),  // 2
        node(MeshNode::lightLayer, 1, 3),     // 3
        node(MeshNode::goldParticles, 0, 4),  // 4
        node(MeshNode::fluidVolume, 0, 20),   // 5: far off to the right
        node(MeshNode::particleEmitter, 1, 5),  // 6
        node(MeshNode::goldParticles, 0, 6, 30),  // 7: far above
    };
    DrawList list(nullptr, set, nullptr, nullptr);
    EXPECT_TRUE(list.hasLightLayers());
    list.updateGL(window(-1, 10, -1, 1));
    EXPECT_EQ(indicesOf(list), (std::vector<std::size_t>{4, 3, 0, 1, 2, 6}));
    EXPECT_EQ(kinds(list), (std::vector<std::uint32_t>{7, 5, 3, 0, 8, 2}));
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(list.isVisible(list.handleRecord(i)), i != 5 && i != 7) << i;

    // Culled this frame: no longer visible, though it was last frame.
    list.updateGL(window(15, 25, -1, 1));
    EXPECT_EQ(indicesOf(list), (std::vector<std::size_t>{5}));
    EXPECT_FALSE(list.isVisible(list.handleRecord(1)));

    // A box touching the window's edge counts as inside; one just past it does not.
    list.updateGL(window(1.5f, 2.4f, -1, 1));
    EXPECT_EQ(indicesOf(list), (std::vector<std::size_t>{1, 2}));
}

TEST(DrawListLowEnd, FlaggedNodesAreNeverVisible) {
    MeshSet set;
    set.nodes = {node(MeshNode::player, 0, 0), node(MeshNode::particleEmitter, 0, 1)};
    set.nodes[1].lowEnd = 1;
    setenv("ZELV_DEVICE_MODEL", "iPhone3,1", 1);
    DrawList low(nullptr, set, nullptr, nullptr);
    unsetenv("ZELV_DEVICE_MODEL");
    low.updateGL(window(-5, 5, -5, 5));
    EXPECT_EQ(indicesOf(low), (std::vector<std::size_t>{0}));
    EXPECT_EQ(low.handleRecord(1).leaf, nullptr);

    DrawList full(nullptr, set, nullptr, nullptr);
    full.updateGL(window(-5, 5, -5, 5));
    EXPECT_EQ(indicesOf(full), (std::vector<std::size_t>{0, 1}));
}

TEST_F(DrawListCulling, InvalidMeshDataIsDropped) {
    MeshSet set = withBuffers(4);  // 32 bytes: four vertices
    set.indexBuffers.push_back({{0, 0, 1, 0, 2, 0, 3, 0}, 1});  // shorts 0..3
    set.indexBuffers.push_back({{0, 0, 9, 0}, 1});              // index 9: past the vertices

    // 0 fine; 1 runs past the buffer; 2 no such buffer; 3 uv beyond the stride; 4 five components
    // (GL takes 1 to 4); 5 an overflowing range.
    set.arrayMeshes = {arrayMesh(0, 4), arrayMesh(2, 3), arrayMesh(0, 4),
                       arrayMesh(0, 1), arrayMesh(0, 1), arrayMesh(0xFFFFFFF0u, 0xFFFFFFF0u)};
    set.arrayMeshes[2].vertexBuffer = 3;
    set.arrayMeshes[3].uv = {8, 2, 2};
    set.arrayMeshes[4].position.count = 5;

    PristineLevel::IndexedMesh indexed;
    indexed.position = {0, 2, 2};
    indexed.stride = 8;
    indexed.indexType = 1;
    indexed.indexCount = 4;
    set.indexedMeshes.push_back(indexed);  // 0: fine
    indexed.indexBuffer = 1;
    indexed.indexCount = 2;
    set.indexedMeshes.push_back(indexed);  // 1: index past the vertices
    indexed.indexBuffer = 0;
    indexed.indexCount = 5;
    set.indexedMeshes.push_back(indexed);  // 2: more indices than the buffer holds
    indexed.indexCount = 1;
    indexed.indexOffset = 1;
    set.indexedMeshes.push_back(indexed);  // 3: misaligned
    indexed.indexOffset = 0;
    indexed.indexType = 2;
    set.indexedMeshes.push_back(indexed);  // 4: float indices do not draw
    indexed.indexType = 1;
    indexed.indexBuffer = 7;
    set.indexedMeshes.push_back(indexed);  // 5: no such index buffer

    for (std::uint16_t kind : {MeshNode::arrayEntry, MeshNode::indexedEntry}) {
        for (std::uint32_t i = 0; i < 6; ++i) set.nodes.push_back(node(kind, i, float(i)));
    }
    set.nodes.push_back(node(MeshNode::arrayEntry, 40, 0));  // 12: no such entry
    set.nodes.push_back(node(9, 0, 0));                      // 13: no such kind
    MeshNode inverted = node(MeshNode::player, 0, 0);
    std::swap(inverted.box.min, inverted.box.max);
    set.nodes.push_back(inverted);  // 14
    MeshNode nan = node(MeshNode::player, 0, 0);
    nan.box.max.x = std::numeric_limits<float>::quiet_NaN();
    set.nodes.push_back(nan);  // 15
    set.nodes.push_back(node(MeshNode::lightLayer2, 0, 0));  // 16: fine

    DrawList list(nullptr, set, nullptr, nullptr);
    list.updateGL(window(-100, 100, -100, 100));
    EXPECT_EQ(indicesOf(list), (std::vector<std::size_t>{16, 0, 6}));
    auto const& g = list.geometry();
    EXPECT_TRUE(g.arrays[0].valid);
    EXPECT_TRUE(g.indexed[0].valid);
    for (std::size_t i = 1; i < 6; ++i) {
        EXPECT_FALSE(g.arrays[i].valid) << i;
        EXPECT_FALSE(g.indexed[i].valid) << i;
    }

    // Numbered 2 but starting at byte 0: drawing from vertex 2 would need arrays that begin
    // before the buffer.
    MeshSet early = withBuffers(4);
    early.arrayMeshes = {arrayMesh(2, 2)};
    early.arrayMeshes[0].baseOffset = 0;
    DrawList earlyList(nullptr, early, nullptr, nullptr);
    EXPECT_FALSE(earlyList.geometry().arrays[0].valid);
}

TEST_F(DrawListCulling, DrawablesMoveTheirLeaves) {
    MeshSet set = withBuffers(4);
    set.arrayMeshes = {arrayMesh(0, 4)};
    set.arrayMeshes[0].matrix = glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 0.0f, 0.0f));
    set.nodes = {node(MeshNode::arrayEntry, 0, 0), node(MeshNode::player, 0, 0)};
    DrawList list(nullptr, set, nullptr, nullptr);
    std::vector<Drawable> drawables = Drawable::createDrawables(set, &list, {0, 1, 99});
    ASSERT_EQ(drawables.size(), 3u);

    list.updateGL(window(9, 11, -1, 1));
    EXPECT_FALSE(drawables[0].isVisible());
    drawables[0].setTransform(glm::translate(glm::mat4(1.0f), glm::vec3(10.0f, 0.0f, 0.0f)));
    drawables[0].updateBounds();
    list.updateGL(window(9, 11, -1, 1));
    EXPECT_TRUE(drawables[0].isVisible());
    btDbvtNode const* leaf = list.handleRecord(0).leaf;
    EXPECT_FLOAT_EQ(leaf->volume.Mins().x(), 9.5f);
    EXPECT_FLOAT_EQ(leaf->volume.Maxs().x(), 10.5f);

    // An index the level does not have gives a handle that does nothing.
    EXPECT_EQ(drawables[2].handle(), nullptr);
    drawables[2].setTransform(glm::mat4(1.0f));
    drawables[2].updateBounds();
    EXPECT_FALSE(drawables[2].isVisible());
}
