#include "graphics/QuadInstance.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "graphics/Context.h"

namespace {
constexpr uint32_t kPositionFloats = 3;
constexpr uint32_t kUvFloats = 2;

// Bytes from one vertex's attribute to the next's: the entry's stride, or the attribute's own
// size when the vertices are packed tightly (stride 0), as the draw list reads them.
uint32_t stepOf(DrawList::Entry const& e, DrawList::Attribute const& a) {
    uint32_t const component = a.type == GL_UNSIGNED_BYTE ? 1 : (a.type == GL_UNSIGNED_SHORT ? 2 : 4);
    return e.stride != 0 ? e.stride : component * a.count;
}
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
    uint32_t const positionStep = stepOf(*entry, entry->position);
    uint32_t const uvStep = stepOf(*entry, entry->uv);
    for (uint32_t i = 0; i < 4; ++i) {
        uint64_t const position = offset + entry->position.offset + uint64_t(i) * positionStep;
        uint64_t const uv = offset + entry->uv.offset + uint64_t(i) * uvStep;
        if (!fits(position, positionCount) || !fits(uv, uvCount)) {
            std::fprintf(stderr, "QuadInstance: drawable %zu lies outside its vertex buffer\n", index);
            local_.fill(0.0f);
            return;
        }
        std::memcpy(&local_[i * 5], &bytes[position], positionCount * 4);
        std::memcpy(&local_[i * 5 + 3], &bytes[uv], uvCount * 4);
    }
    if (entry->stride == 0) {
        // Kept to fill what lies between the written components of each run.
        auto run = [&](uint64_t at, uint32_t step, uint32_t floats) {
            uint64_t const end = std::min<uint64_t>(at + uint64_t(step) * 3 + floats * 4u, bytes.size());
            return std::vector<uint8_t>(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(end));
        };
        positionRun_ = run(offset + entry->position.offset, positionStep, positionCount);
        uvRun_ = run(offset + entry->uv.offset, uvStep, uvCount);
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
    changed_ = true;
    update(transform, bounds);
}

void QuadInstance::update(bool transform, bool bounds) {
    if (hidden()) return;
    if (!changed_ && transform == lastTransform_ && (boundsFitted_ || !bounds)) return;
    changed_ = false;
    lastTransform_ = transform;
    boundsFitted_ = bounds;
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
    if (stride == 0) {
        // Packed tightly: positions and uvs are separate runs, each written on its own.
        uploadRun(context, offset_ + entry_->position.offset, stepOf(*entry_, entry_->position), 0, positionBytes,
                  positionRun_);
        uploadRun(context, offset_ + entry_->uv.offset, stepOf(*entry_, entry_->uv), 3, uvBytes, uvRun_);
        return;
    }
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

void QuadInstance::uploadRun(Graphics::Context* context, uint64_t at, uint32_t step, std::size_t first,
                             uint32_t bytes, std::vector<uint8_t> run) {
    if (bytes == 0) return;
    // The run's bytes between the written components (a fourth position component) stay as
    // the level stored them.
    std::size_t const size = std::size_t(step) * 3 + bytes;
    if (at > buffer_->size || size > buffer_->size - at || step < bytes || run.size() != size) {
        std::fprintf(stderr, "QuadInstance: vertices do not fit the buffer; not uploaded\n");
        return;
    }
    for (std::size_t i = 0; i < 4; ++i) std::memcpy(run.data() + i * step, &world_[i * 5 + first], bytes);
    context->bindBuffer(GL_ARRAY_BUFFER, buffer_->glName());
    context->bufferSubData(GL_ARRAY_BUFFER, GLintptr(at), GLsizeiptr(run.size()), run.data());
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
