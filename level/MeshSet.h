#pragma once
// The static geometry a level draws: mesh records over shared vertex and index buffers, and one
// culling node per drawable. Indices are kept as read; the draw list checks them.
#include <boost/optional.hpp>
#include <glm/mat4x4.hpp>
#include <glm/vec4.hpp>

#include <cstdint>
#include <vector>

#include "os/TextureDescriptor.h"

namespace PristineLevel {

// Component type codes: 0 unsigned byte, 1 unsigned short, other float.
struct VertexAttribute {
    uint32_t offset = 0;  // bytes within a vertex
    uint8_t type = 0;
    uint32_t count = 0;  // components; 0: the attribute is absent

    friend bool operator==(VertexAttribute const&, VertexAttribute const&) = default;
};

struct MeshCommon {
    static constexpr uint8_t texturedShader = 0;
    static constexpr uint8_t colorShader = 1;
    static constexpr uint8_t maskShader = 4;

    uint32_t baseOffset = 0;  // bytes to the mesh's first vertex in its buffer
    VertexAttribute position;
    VertexAttribute uv;
    VertexAttribute uv2;
    uint32_t vertexBuffer = 0;  // index into vertexBuffers
    uint32_t stride = 0;
    uint8_t blend = 0;
    glm::vec4 color;
    boost::optional<TextureDescriptor> texture;
    boost::optional<TextureDescriptor> mask;
    boost::optional<glm::mat4> matrix;
    uint8_t shader = 0;

    friend bool operator==(MeshCommon const&, MeshCommon const&) = default;
};

// Primitive codes: 0 triangle strip, other triangles.
struct ArrayMesh : MeshCommon {
    // Members start from their initialisers alone: value-initialising the record, as a list
    // resize does, would first zero all of it, which showed in level loading.
    ArrayMesh() {}
    uint8_t primitive = 0;
    uint32_t firstVertex = 0;
    uint32_t vertexCount = 0;

    friend bool operator==(ArrayMesh const&, ArrayMesh const&) = default;
};

struct IndexedMesh : MeshCommon {
    IndexedMesh() {}  // as ArrayMesh
    uint8_t primitive = 0;
    uint8_t indexType = 0;
    uint32_t indexOffset = 0;  // bytes into the index buffer
    uint32_t indexCount = 0;
    uint32_t indexBuffer = 0;  // index into indexBuffers

    friend bool operator==(IndexedMesh const&, IndexedMesh const&) = default;
};

// Usage codes: 0 stream, 1 static, other dynamic.
struct BufferData {
    std::vector<uint8_t> bytes;
    uint32_t usage = 1;  // stored as one byte

    friend bool operator==(BufferData const&, BufferData const&) = default;
};

struct MeshNode {
    enum Kind : uint16_t {
        arrayEntry = 0,
        indexedEntry = 1,
        particleEmitter = 2,
        player = 3,
        fluidVolume = 4,
        lightLayer = 5,
        lightLayer2 = 6,
        goldParticles = 7,
        goldComposite = 8,
    };

    // The local bounding box.
    struct Box {
        glm::vec4 min;
        glm::vec4 max;

        friend bool operator==(Box const&, Box const&) = default;
    };

    uint16_t kind = player;
    uint32_t index = 0;  // entry within its kind's list
    Box box;
    uint8_t lowEnd = 0;  // never visible on a low-end device

    friend bool operator==(MeshNode const&, MeshNode const&) = default;
};

struct MeshSet {
    std::vector<ArrayMesh> arrayMeshes;
    std::vector<IndexedMesh> indexedMeshes;
    std::vector<BufferData> vertexBuffers;
    std::vector<BufferData> indexBuffers;
    std::vector<MeshNode> nodes;  // one per drawable; a drawable index points here

    friend bool operator==(MeshSet const&, MeshSet const&) = default;
};

}  // namespace PristineLevel
