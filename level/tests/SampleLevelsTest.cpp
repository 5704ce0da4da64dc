// The levels in the built data archive read whole, hold what the game needs of them, every
// index inside them points at something that exists and every shape decodes.
#include <box2d/b2_chain_shape.h>
#include <box2d/b2_circle_shape.h>
#include <box2d/b2_edge_shape.h>
#include <box2d/b2_polygon_shape.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "level/Fixtures.h"
#include "level/LevelCatalog.h"
#include "level/LevelFields.h"
#include "level/LevelReader.h"
#include "level/LevelWriter.h"
#include "os/FileSystem.h"
#include "testing/TestPaths.h"

namespace {

using namespace PristineLevel;

class SampleLevels : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto const pak = testing_support::binaryDir() / "pak0.pak";
        ASSERT_NE(Singleton<FileSystem>::instance().mount(pak.string()), nullptr) << pak;
    }

    // Loads a level and checks that the reader used every byte of its archive.
    static Data load(std::string const& path) {
        Data level;
        auto const file = Singleton<FileSystem>::instance().open(path);
        EXPECT_GE(file->size(), 4u) << path;
        if (file->size() < 4) {
            return level;
        }
        uint32_t declared = 0;
        std::memcpy(&declared, file->data(), 4);
        std::vector<uint8_t> archive(declared);
        uLongf produced = declared;
        EXPECT_EQ(uncompress(archive.data(), &produced, file->data() + 4, static_cast<uLong>(file->size() - 4)), Z_OK);
        EXPECT_EQ(produced, declared);
        try {
            loadPristineLevelArchive(level, archive.data(), archive.size());
        } catch (std::exception const& e) {
            ADD_FAILURE() << path << ": " << e.what();
        }
        EXPECT_EQ(savePristineLevelArchive(level), archive) << path << " has bytes the reader did not use";
        return level;
    }
};

uint32_t userDataOf(PackedShape const& shape) {
    uint32_t index = 0xFFFFFFFF;
    if (shape.size() >= 31) {
        std::memcpy(&index, shape.data() + 27, 4);
    }
    return index;
}

uint16_t categoryOf(PackedShape const& shape) {
    uint16_t category = 0;
    if (shape.size() >= 14) {
        std::memcpy(&category, shape.data() + 12, 2);
    }
    return category;
}

// Every index that points into another list of the level points inside it.
void expectIndicesInRange(Data const& d, std::string const& path) {
    SCOPED_TRACE(path);
    auto const bodies = static_cast<int64_t>(d.dynamicBodies.size());
    auto const nodes = d.meshSet.nodes.size();
    auto body = [&](int64_t index) { return index == -1 || (index >= 0 && index < bodies); };
    auto drawable = [&](uint32_t index) { return index < nodes; };

    for (auto const& shape : d.signalShapes) {
        uint32_t const index = userDataOf(shape);
        EXPECT_TRUE(index == 0xFFFFFFFF || index < d.fixtureSignals.size());
    }
    for (auto const& signal : d.fixtureSignals) {
        EXPECT_TRUE(signal.next == -1 || (signal.next >= 0 && size_t(signal.next) < d.fixtureSignals.size()));
    }
    // Joints' bodies and gear partners: the physics tests create every joint of these levels.
    for (auto const& hinge : d.soundHinges) {
        EXPECT_TRUE(body(hinge.body) && hinge.body != -1 && body(hinge.secondBody));
    }
    for (auto const& hinge : d.motorHinges) {
        EXPECT_TRUE(int64_t(hinge.body) < bodies && body(hinge.secondBody));
    }
    for (auto const& s : d.jointSwitches) {
        EXPECT_TRUE(int64_t(s.body) < bodies && body(s.secondBody));
    }
    for (auto const& r : d.racksAndPinions) {
        for (auto const& rack : r.racks) {
            EXPECT_TRUE(int64_t(rack.body) < bodies && rack.gear < r.gears.size());
        }
        for (auto const& gear : r.gears) {
            EXPECT_TRUE(int64_t(gear.body) < bodies);
        }
    }
    for (auto const& a : d.animatedBodies) {
        EXPECT_TRUE(int64_t(a.body) < bodies);
        EXPECT_FALSE(a.path.keyframes.empty());
    }
    for (auto const& pad : d.jumpPads) {
        EXPECT_TRUE(pad.body == staticBodyIndexU || int64_t(pad.body) < bodies);
        for (auto const& shape : pad.shapes) {
            EXPECT_TRUE(userDataOf(shape) == 0xFFFFFFFF || userDataOf(shape) < d.fixtureSignals.size());
        }
    }
    for (auto const& o : d.bodyObservers) {
        EXPECT_TRUE(body(o.body) && o.body != -1);
    }
    for (auto const& s : d.triggerableSounds) {
        EXPECT_TRUE(s.body < 0 || s.body < bodies);
    }
    for (auto const& b : d.dynamicBodies) {
        EXPECT_FALSE(b.shapes.empty());
        for (uint32_t i : b.drawables) {
            EXPECT_TRUE(drawable(i));
        }
        for (uint32_t i : b.animatedTextures) {
            EXPECT_LT(i, d.animatedTextures.size());
        }
        for (uint32_t i : b.animatedMeshes) {
            EXPECT_LT(i, d.animatedMeshes.size());
        }
    }
    for (auto const& c : d.coins) {
        EXPECT_TRUE(drawable(c.coinDrawable) && drawable(c.ringDrawable) && drawable(c.glintDrawable));
    }
    for (auto const& t : d.animatedTextures) {
        EXPECT_TRUE(drawable(t.drawable));
    }
    // Each animated mesh plays whole frames of its own vertex layout, the first of them the
    // mesh as its buffer holds it.
    for (auto const& m : d.animatedMeshes) {
        ASSERT_TRUE(drawable(m.drawable));
        ASSERT_NE(m.frameStride, 0u);  // frames of no bytes cannot be played
        ASSERT_LT(m.frames, d.meshAnimationFrames.size());
        auto const& frames = d.meshAnimationFrames[m.frames];
        EXPECT_FALSE(frames.empty());
        EXPECT_EQ(frames.size() % m.frameStride, 0u);
        auto const& node = d.meshSet.nodes[m.drawable];
        PristineLevel::MeshCommon const* mesh = nullptr;
        if (node.kind == MeshNode::arrayEntry && node.index < d.meshSet.arrayMeshes.size()) {
            mesh = &d.meshSet.arrayMeshes[node.index];
        } else if (node.kind == MeshNode::indexedEntry && node.index < d.meshSet.indexedMeshes.size()) {
            mesh = &d.meshSet.indexedMeshes[node.index];
        }
        ASSERT_NE(mesh, nullptr) << "an animated mesh draws a mesh";
        ASSERT_LT(mesh->vertexBuffer, d.meshSet.vertexBuffers.size());
        auto const& vertices = d.meshSet.vertexBuffers[mesh->vertexBuffer].bytes;
        ASSERT_LE(mesh->baseOffset + uint64_t(m.frameStride), vertices.size());
        EXPECT_TRUE(std::equal(frames.begin(), frames.begin() + std::min<size_t>(m.frameStride, frames.size()),
                               vertices.begin() + mesh->baseOffset));
    }
    for (auto const& s : d.jointSprites) {
        EXPECT_TRUE(drawable(s.drawable) && s.joint >= 0 && size_t(s.joint) < d.joints.size());
    }
    for (auto const& s : d.jointSpritePairs) {
        EXPECT_TRUE(drawable(s.drawableA) && drawable(s.drawableB) && s.joint >= 0 && size_t(s.joint) < d.joints.size());
    }
    for (auto const& g : d.drawableGroups) {
        for (uint32_t i : g.drawables) {
            EXPECT_TRUE(drawable(i));
        }
    }
    for (uint32_t i : d.levelInfo.cameraDrawables) {
        EXPECT_TRUE(drawable(i));
    }
    for (auto const& e : d.particleEmitters) {
        EXPECT_TRUE(drawable(e.drawable));
    }
    for (auto const& n : d.soundTable.musicPath) {
        EXPECT_TRUE(n.track < 0 || size_t(n.track) < d.soundTable.musicTracks.size());
    }

    // The mesh set: nodes point at meshes, meshes at buffers, and the drawn ranges fit.
    auto const& set = d.meshSet;
    for (auto const& n : set.nodes) {
        if (n.kind == MeshNode::arrayEntry) {
            EXPECT_LT(n.index, set.arrayMeshes.size());
        } else if (n.kind == MeshNode::indexedEntry) {
            EXPECT_LT(n.index, set.indexedMeshes.size());
        } else {
            EXPECT_LE(n.kind, MeshNode::goldComposite);
        }
    }
    for (auto const& m : set.arrayMeshes) {
        ASSERT_LT(m.vertexBuffer, set.vertexBuffers.size());
        // The base offset is the first vertex, whatever number the mesh draws it by.
        uint64_t const end = m.baseOffset + uint64_t(m.vertexCount) * m.stride;
        EXPECT_LE(end, set.vertexBuffers[m.vertexBuffer].bytes.size());
        EXPECT_GE(m.baseOffset, uint64_t(m.firstVertex) * m.stride);
    }
    for (auto const& m : set.indexedMeshes) {
        ASSERT_LT(m.vertexBuffer, set.vertexBuffers.size());
        ASSERT_LT(m.indexBuffer, set.indexBuffers.size());
        uint64_t const indexSize = m.indexType == 0 ? 1 : m.indexType == 1 ? 2 : 4;
        EXPECT_LE(m.indexOffset + m.indexCount * indexSize, set.indexBuffers[m.indexBuffer].bytes.size());
    }
}

// Every packed shape of the level decodes into a usable physics shape.
void expectShapesDecode(Data const& d, std::string const& path) {
    SCOPED_TRACE(path);
    auto check = [&](std::vector<PackedShape> const& shapes) {
        for (size_t i = 0; i < shapes.size(); ++i) {
            uint32_t type = 99;
            ASSERT_TRUE(packedShapeType(shapes[i], type));
            FixtureSettings settings;
            bool decoded = false;
            if (type == PackedShapeLayout::circle) {
                b2CircleShape shape;
                decoded = decodePackedShape(shapes, i, shape, settings);
            } else if (type == PackedShapeLayout::edge) {
                b2EdgeShape shape;
                decoded = decodePackedShape(shapes, i, shape, settings);
            } else if (type == PackedShapeLayout::polygon) {
                b2PolygonShape shape;
                decoded = decodePackedShape(shapes, i, shape, settings);
            } else if (type == PackedShapeLayout::chain) {
                b2ChainShape shape;
                decoded = decodePackedShape(shapes, i, shape, settings);
            }
            EXPECT_TRUE(decoded) << "shape " << i << " of type " << type;
        }
    };
    check(d.signalShapes);
    check(d.staticShapes);
    for (auto const& r : d.jumpPads) check(r.shapes);
    for (auto const& r : d.cameraZones) check(r.shapes);
    for (auto const& r : d.dynamicBodies) check(r.shapes);
    for (auto const& r : d.fluids) check(r.shapes);
    for (auto const& r : d.particleLiquids) check(r.shapes);
}

TEST_F(SampleLevels, EveryCatalogLevelReadsWholeInItsMode) {
    for (uint64_t i = 0; i < LevelCatalog::count(); ++i) {
        LevelCatalog::Entry const& entry = LevelCatalog::entry(i);
        Data const level = load(entry.path);
        EXPECT_EQ(level.metaData.mode, entry.mode) << entry.path;
        EXPECT_FALSE(level.checkPoints.empty()) << entry.path;
        expectIndicesInRange(level, entry.path);
        expectShapesDecode(level, entry.path);
    }
}

// The opening and closing cut-scenes and each level's intro play in the intro mode, with the
// music and English subtitles their soundtrack name points at.
TEST_F(SampleLevels, CutScenesReadWholeWithTheirMusicAndSubtitles) {
    std::vector<std::string> paths = {"levels/intro.pxl", "levels/end.pxl"};
    for (uint64_t i = 0; i < LevelCatalog::count(); ++i) {
        if (!LevelCatalog::entry(i).introPath.empty()) paths.push_back(LevelCatalog::entry(i).introPath);
    }
    FileSystem const& fs = Singleton<FileSystem>::instance();
    for (std::string const& path : paths) {
        Data const level = load(path);
        EXPECT_EQ(level.metaData.mode, GameMode::Intro) << path;
        EXPECT_GT(level.metaData.introEndTime, 2000.0f) << path;
        EXPECT_TRUE(fs.exists(level.metaData.introSoundtrack + ".m4a")) << path;
        EXPECT_TRUE(fs.exists(level.metaData.introSoundtrack + "_en_US.srt")) << path;
        expectIndicesInRange(level, path);
    }
    // Only the closing one rolls the credits.
    EXPECT_GT(load("levels/end.pxl").metaData.introCueTime, 0.0f);
    EXPECT_EQ(load("levels/intro.pxl").metaData.introCueTime, 0.0f);
}

TEST_F(SampleLevels, Level01HasGroundStartCheckPointsCoinsAndGoal) {
    Data const level = load("levels/level01.pxl");
    ASSERT_GE(level.checkPoints.size(), 3u);
    for (size_t i = 0; i < level.checkPoints.size(); ++i) {
        EXPECT_EQ(level.checkPoints[i].index, i);
    }
    EXPECT_FALSE(level.staticShapes.empty());
    EXPECT_FALSE(level.coins.empty());
    // Each check point after the start and each coin is reached through a sensor of the static
    // body whose fixture signal raises its signal when the player touches it.
    std::set<uint32_t> raised;
    int goals = 0;
    for (auto const& shape : level.signalShapes) {
        uint32_t const index = userDataOf(shape);
        if (index < level.fixtureSignals.size()) {
            raised.insert(level.fixtureSignals[index].beginSignal);
        }
        goals += categoryOf(shape) == 0x0080;
    }
    EXPECT_EQ(goals, 1);
    for (size_t i = 1; i < level.checkPoints.size(); ++i) {
        EXPECT_TRUE(raised.count(level.checkPoints[i].reachSignal)) << "check point " << i;
    }
    for (auto const& coin : level.coins) {
        EXPECT_NE(coin.triggerSignal, 0u);
        EXPECT_TRUE(raised.count(coin.triggerSignal));
    }
    // The tutorial's lesson zones lie on the path.
    EXPECT_TRUE(level.metaData.tutorial);
    for (uint32_t id = 20000016; id <= 20000022; id += 2) EXPECT_TRUE(raised.count(id)) << id;
}

TEST_F(SampleLevels, SamplerHoldsEveryRecordKindOnTheWayToItsGoal) {
    Data const level = load("levels/sampler.pxl");
    int member = 0;
    io::forEachMember(level, [&](auto const& m) {
        using Member = std::decay_t<decltype(m)>;
        if constexpr (io::IsStdVector<Member>::value) {
            EXPECT_FALSE(m.empty()) << "member " << member;
        }
        ++member;
    });
    // A scripted camera path would take the view away from the ball: the sampler is played.
    EXPECT_FALSE(level.levelInfo.cameraTrack.has_value());
    EXPECT_FALSE(level.levelInfo.cameraDrawables.empty());
    EXPECT_FALSE(level.soundTable.musicTracks.empty());
    EXPECT_FALSE(level.soundTable.sounds.empty());
    EXPECT_FALSE(level.soundTable.musicPath.empty());
    auto const& set = level.meshSet;
    EXPECT_FALSE(set.arrayMeshes.empty() || set.indexedMeshes.empty() || set.vertexBuffers.empty() ||
                 set.indexBuffers.empty());
    bool revoluteStates = false;
    bool ropeStates = false;
    for (auto const& joint : level.joints) {
        if (auto const* r = boost::get<RevoluteJoint>(&joint.def)) {
            revoluteStates |= !r->states.empty();
        }
        if (auto const* r = boost::get<RopeJoint>(&joint.def)) {
            ropeStates |= !r->states.empty();
        }
    }
    EXPECT_TRUE(revoluteStates && ropeStates);
    std::set<uint16_t> nodeKinds;
    for (auto const& n : set.nodes) {
        nodeKinds.insert(n.kind);
    }
    EXPECT_EQ(nodeKinds.size(), 9u);
    expectIndicesInRange(level, "levels/sampler.pxl");
    expectShapesDecode(level, "levels/sampler.pxl");
}

}  // namespace
