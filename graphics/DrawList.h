#pragma once
// Everything of a level drawn in world space: the level's static meshes over shared vertex and
// index buffers, and the world's own drawers. Each drawable has a handle with a box in a dynamic
// AABB tree; once a frame the camera's four planes select the visible handles, which two passes
// then draw by kind.
#include <BulletCollision/BroadphaseCollision/btDbvt.h>
#include <GLES2/gl2.h>

#include <array>
#include <cstdint>
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>
#include <optional>
#include <utility>
#include <vector>

#include "graphics/Texture.h"
#include "graphics/VertexBuffer.h"
#include "level/MeshSet.h"

namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

class GoldParticles;

class DrawList {
public:
    enum Kind : std::uint32_t {
        kArrayMesh = 0,
        kIndexedMesh = 1,
        kParticleEmitter = 2,
        kPlayer = 3,
        kFluidVolume = 4,
        kArrayLightLayer = 5,
        kIndexedLightLayer = 6,
        kGoldParticles = 7,
        kGoldComposite = 8,
    };

    // One drawable. Its tree leaf (null when it has none and is never visible) points back here.
    struct Handle {
        std::uint32_t kind = 0;
        std::uint32_t index = 0;
        btDbvtNode* leaf = nullptr;
    };

    struct Attribute {
        std::uint32_t offset = 0;  // bytes within a vertex
        GLenum type = GL_FLOAT;
        std::uint32_t count = 0;  // components; 0: absent
    };

    struct Entry {
        std::uint64_t baseOffset = 0;  // of the entry's first vertex in its vertex buffer
        Attribute position;
        Attribute uv;
        Attribute uv2;
        std::uint64_t vertexBuffer = 0;
        std::uint32_t stride = 0;
        std::uint32_t blend = 0;
        glm::vec4 color{0.0f};
        Graphics::Texture texture;
        Graphics::Texture mask;
        std::optional<glm::mat4> matrix;
        std::uint8_t shader = 0;
        std::uint8_t hidden = 0;
        // False when the level's record points outside its buffers: never drawn, never culled.
        bool valid = true;
    };
    struct ArrayEntry : Entry {
        GLenum mode = GL_TRIANGLES;
        std::uint32_t first = 0;
        std::uint32_t count = 0;
    };
    struct IndexedEntry : Entry {
        GLenum mode = GL_TRIANGLES;
        GLenum indexType = GL_UNSIGNED_SHORT;
        std::uint32_t indexOffset = 0;
        std::uint32_t indexCount = 0;
        std::uint32_t indexBuffer = 0;
    };

    // One GL buffer made from a level buffer record, with its size for the bounds checks.
    struct Buffer {
        Graphics::VertexBuffer buffer;
        std::uint64_t size = 0;
        GLuint glName() const { return buffer.glName(); }
    };

    struct Geometry {
        std::vector<ArrayEntry> arrays;
        std::vector<IndexedEntry> indexed;
        std::vector<Buffer> vertexBuffers;
        std::vector<Buffer> indexBuffers;
    };

    // What the list draws of the running world (particle emitters, the player, fluid volumes
    // and the gold particles). Indices come from the level and may be out of range: the world
    // answers with its counts, and the list draws only what exists.
    class WorldDrawers {
    public:
        virtual ~WorldDrawers() = default;
        virtual std::size_t particleEmitterCount() const = 0;
        virtual void drawParticleEmitter(std::size_t index, Graphics::Context*, Graphics::StandardShader*) = 0;
        virtual void drawPlayer(Graphics::Context*, Graphics::StandardShader*) = 0;
        virtual std::size_t fluidVolumeCount() const = 0;
        virtual void drawFluidVolume(std::size_t index, Graphics::Context*, Graphics::StandardShader*) = 0;
        // Null when the level has no gold.
        virtual GoldParticles* goldParticles() = 0;
    };

    // The post-processing targets the effect layers draw into.
    class EffectTargets {
    public:
        virtual ~EffectTargets() = default;
        virtual void bindHalfTarget() = 0;     // binds it and sets its viewport
        virtual void bindQuarterTarget() = 0;  // binds it and sets its viewport
        virtual void bindSceneTarget() = 0;    // back to the scene target at the current size
        virtual GLuint halfTargetTexture() const = 0;
        virtual GLuint quarterTargetTexture() const = 0;
        // Four vertices of a full-screen triangle strip: x, y, u, v each.
        virtual float const* fullScreenQuad() const = 0;
    };

    // The camera's four culling planes (a point p is inside when dot(normal, p) + offset >= 0)
    // and its position, from which on-demand textures are ordered.
    struct View {
        std::array<btVector3, 4> normals;
        std::array<btScalar, 4> offsets{};
        glm::vec2 position{0.0f};
    };

    // `context` may be null for a list that is only culled (no GL buffers or textures are made).
    DrawList(Graphics::Context* context, PristineLevel::MeshSet const& meshSet, WorldDrawers* world,
             EffectTargets* targets);
    ~DrawList();
    DrawList(DrawList const&) = delete;
    DrawList& operator=(DrawList const&) = delete;

    // Culling and on-demand texture ordering, once a frame before the passes.
    void updateGL(View const& view);
    // The effect pass (gold particles and light layers into their targets).
    void drawEffectLayers(Graphics::Context* context, Graphics::StandardShader* shader);
    // The main pass.
    void draw(Graphics::Context* context, Graphics::StandardShader* shader);

    std::size_t handleCount() const { return handles_.size(); }
    Handle const& handleRecord(std::size_t index) const { return handles_.at(index); }
    // Visible in the last cull.
    bool isVisible(Handle const& handle) const;
    // The handles of the last cull: gold particles, then light layers, then the rest, each in
    // level order.
    std::vector<Handle const*> visibleHandles() const;

    // The entry a handle's kind and index name (kinds 0 and 5 the array entries, every other kind
    // the indexed ones); null when there is none.
    Entry* entry(Handle const& handle);
    Buffer const* vertexBufferOf(Entry const& entry) const;
    btDbvt& tree() { return tree_; }
    Geometry const& geometry() const { return geometry_; }
    Graphics::Context* context() const { return context_; }
    bool hasLightLayers() const { return hasLightLayers_ != 0; }

    // Binds `texture` with its own sampling on `unit`, or unbinds the unit when there is none,
    // so that nothing of an earlier draw is sampled in its place.
    static void bindTexture(Graphics::Context* context, Graphics::Texture const& texture, GLenum unit);

private:
    using Visible = std::pair<Handle*, float>;

    bool setupEntry(Entry& e, std::uint32_t firstVertex, Graphics::Context* context, Graphics::StandardShader* shader);
    void drawMesh(Handle const& handle, Graphics::Context* context, Graphics::StandardShader* shader);

    btDbvt tree_;
    Geometry geometry_;
    std::vector<Handle> handles_;
    WorldDrawers* world_ = nullptr;
    EffectTargets* targets_ = nullptr;
    std::vector<std::pair<Handle*, float>> onDemand_;
    std::vector<Visible> visible_;
    std::size_t goldEnd_ = 0;   // end of the kind-7 range
    std::size_t lightEnd_ = 0;  // end of the light-layer range
    std::uint8_t hasLightLayers_ = 0;
    Graphics::Context* context_ = nullptr;
};

// Refits `leaf` to the box of `count` points (x, y, z at the start of every `stride` floats),
// touching the tree only when the box changed. Nothing for a null leaf; no points, or a point
// that is not finite, store the inverted box (min FLT_MAX, max -FLT_MAX).
void updateDrawBounds(btDbvt& tree, btDbvtNode* leaf, float const* points, std::size_t count, std::size_t stride);
