#pragma once
// A moving quad of the level (an animated decoration, a coin): four vertices of one draw-list
// entry, transformed on the CPU and written back into the level's shared vertex buffer.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include "graphics/DrawList.h"

class QuadInstance {
public:
    static constexpr std::size_t kFloats = 20;  // four vertices of x, y, z, u, v

    // An index outside the level, or an entry whose vertices lie outside its buffer, gives an
    // instance that does nothing.
    QuadInstance(PristineLevel::MeshSet const& meshSet, DrawList& list, std::size_t index);

    void setTransform(glm::mat4 const& m) {
        if (m != model_) changed_ = true;
        model_ = m;
    }
    void setUVOffset(glm::vec2 const& offset) {
        if (offset != uvOffset_) changed_ = true;
        uvOffset_ = offset;
    }
    void setVertices(float const (&vertices)[kFloats], bool transform, bool bounds);
    // World vertices from the local ones (through the model matrix and uv offset when
    // `transform`), refitting the culling box when `bounds`. Nothing while hidden, nor when
    // nothing changed since the last update that asked the same.
    void update(bool transform, bool bounds);
    // Writes the world vertices over the entry's slice of the buffer; only when shown and
    // visible in the last cull.
    void upload(Graphics::Context* context);

    void hide();
    void show();
    void setColor(glm::vec4 const& color);
    glm::vec4* colorPointer();
    Graphics::Texture const* texture() const;

    std::array<float, kFloats> const& localVertices() const { return local_; }
    std::array<float, kFloats> const& worldVertices() const { return world_; }
    bool isValid() const { return entry_ != nullptr; }

private:
    bool hidden() const { return entry_ == nullptr || entry_->hidden != 0; }
    void uploadRun(Graphics::Context* context, uint64_t at, uint32_t step, std::size_t first, uint32_t bytes,
                   std::vector<uint8_t> run);

    DrawList* list_ = nullptr;
    DrawList::Handle const* handle_ = nullptr;
    DrawList::Entry* entry_ = nullptr;
    DrawList::Buffer const* buffer_ = nullptr;
    uint64_t offset_ = 0;      // of the first vertex in the buffer
    uint32_t uvDistance_ = 0;  // from a vertex's position to its uv, in bytes
    std::array<float, kFloats> local_{};
    glm::mat4 model_{1.0f};
    glm::vec2 uvOffset_{0.0f};
    std::array<float, kFloats> world_{};
    // What the last update computed from: a still quad (a coin at rest) costs nothing per frame.
    bool changed_ = true;
    bool lastTransform_ = false;
    bool boundsFitted_ = false;
    // Tightly packed entries only: the level's bytes of the position and uv runs.
    std::vector<uint8_t> positionRun_, uvRun_;
};
