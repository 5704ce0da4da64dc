#include "graphics/QuadInstance.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "graphics/Context.h"

namespace {
constexpr uint32_t kPositionFloats = 3;
constexpr uint32_t kUvFloats = 2;
}  // namespace

QuadInstance::QuadInstance(PristineLevel::MeshSet const& meshSet, DrawList& list, std::size_t index) : list_(&list) {
    if (index >= list.handleCount()) {
        std::fprintf(stderr, "QuadInstance: no drawable %zu in this level\n", index);
        return;
    }
    DrawList::Handle const& handle = list.handleRecord(index);
    DrawList::Entry* entry = list.entry(handle);
    if (entry == nullptr || entry->vertexBuffer >= meshSet.vertexBuffers.size()) {
        std::fprintf(stderr, "QuadInstance: drawable %zu has no vertices\n", index);
        return;
    }
    uint64_t const offset = entry->baseOffset;  // where the entry's first vertex lies
    uint32_t const positionCount = std::min(entry->position.count, kPositionFloats);
    uint32_t const uvCount = std::min(entry->uv.count, kUvFloats);
    std::vector<uint8_t> const& bytes = meshSet.vertexBuffers[entry->vertexBuffer].bytes;
    auto fits = [&](uint64_t at, uint32_t floats) { return at <= bytes.size() && floats * 4u <= bytes.size() - at; };
    for (uint32_t i = 0; i < 4; ++i) {
        uint64_t const vertex = offset + uint64_t(i) * entry->stride;
        if (!fits(vertex + entry->position.offset, positionCount) || !fits(vertex + entry->uv.offset, uvCount)) {
            std::fprintf(stderr, "QuadInstance: drawable %zu lies outside its vertex buffer\n", index);
            local_.fill(0.0f);
            return;
        }
        std::memcpy(&local_[i * 5], &bytes[vertex + entry->position.offset], positionCount * 4);
        std::memcpy(&local_[i * 5 + 3], &bytes[vertex + entry->uv.offset], uvCount * 4);
    }
    handle_ = &handle;
    entry_ = entry;
    buffer_ = list.vertexBufferOf(*entry);
    offset_ = offset;
    uvDistance_ = entry->uv.offset - entry->position.offset;
    if (entry->matrix) model_ = *entry->matrix;
}

void QuadInstance::setVertices(float const (&vertices)[kFloats], bool transform, bool bounds) {
    std::copy(std::begin(vertices), std::end(vertices), local_.begin());
    update(transform, bounds);
}

void QuadInstance::update(bool transform, bool bounds) {
    if (hidden()) return;
    for (std::size_t i = 0; i < 4; ++i) {
        float const* l = &local_[i * 5];
        float* w = &world_[i * 5];
        if (transform) {
            glm::vec4 const p = model_ * glm::vec4(l[0], l[1], l[2], 1.0f);
            w[0] = p.x, w[1] = p.y, w[2] = p.z;
            w[3] = l[3] + uvOffset_.x, w[4] = l[4] + uvOffset_.y;
        } else {
            std::copy(l, l + 5, w);
        }
    }
    if (bounds) updateDrawBounds(list_->tree(), handle_->leaf, world_.data(), 4, 5);
}

void QuadInstance::upload(Graphics::Context* context) {
    if (hidden() || context == nullptr || buffer_ == nullptr) return;
    if (!list_->isVisible(*handle_)) return;
    uint32_t const stride = entry_->stride;
    uint32_t const positionBytes = std::min(entry_->position.count, kPositionFloats) * 4;
    uint32_t const uvBytes = std::min(entry_->uv.count, kUvFloats) * 4;
    std::vector<uint8_t> packed(std::size_t(stride) * 4, 0);
    for (std::size_t i = 0; i < 4; ++i) {
        uint8_t* vertex = packed.data() + i * stride;
        if (positionBytes <= stride) std::memcpy(vertex, &world_[i * 5], positionBytes);
        if (uint64_t(uvDistance_) + uvBytes <= stride) std::memcpy(vertex + uvDistance_, &world_[i * 5 + 3], uvBytes);
    }
    uint64_t const at = offset_ + entry_->position.offset;
    if (at > buffer_->size || packed.size() > buffer_->size - at) {
        std::fprintf(stderr, "QuadInstance: vertices do not fit the buffer; not uploaded\n");
        return;
    }
    context->bindBuffer(GL_ARRAY_BUFFER, buffer_->glName());
    context->bufferSubData(GL_ARRAY_BUFFER, GLintptr(at), GLsizeiptr(packed.size()), packed.data());
}

void QuadInstance::hide() {
    if (entry_) entry_->hidden = 1;
}

void QuadInstance::show() {
    if (entry_) entry_->hidden = 0;
}

void QuadInstance::setColor(glm::vec4 const& color) {
    if (entry_) entry_->color = color;
}

glm::vec4* QuadInstance::colorPointer() { return entry_ ? &entry_->color : nullptr; }

Graphics::Texture const* QuadInstance::texture() const { return entry_ ? &entry_->texture : nullptr; }
