#include "graphics/DrawList.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "graphics/Context.h"
#include "graphics/GlFunctions.h"
#include "graphics/GoldParticles.h"
#include "graphics/StandardShader.h"
#include "os/services/PlatformServices.h"

using Graphics::Context;
using Graphics::StandardShader;

void DrawList::bindTexture(Context* context, Graphics::Texture const& texture, GLenum unit) {
    if (texture) {
        texture.bind(unit);
    } else {
        context->bindTextureUnit(unit, 0);
    }
}

// ---- Construction

namespace {

GLenum glPrimitiveMode(std::uint8_t code) { return code == 0 ? GL_TRIANGLE_STRIP : GL_TRIANGLES; }

GLenum glComponentType(std::uint8_t code) {
    return code == 0 ? GL_UNSIGNED_BYTE : (code == 1 ? GL_UNSIGNED_SHORT : GL_FLOAT);
}

GLenum glBufferUsage(std::uint32_t code) {
    return code == 0 ? GL_STREAM_DRAW : (code == 1 ? GL_STATIC_DRAW : GL_DYNAMIC_DRAW);
}

std::uint64_t componentBytes(GLenum type) { return type == GL_UNSIGNED_BYTE ? 1 : (type == GL_UNSIGNED_SHORT ? 2 : 4); }

DrawList::Attribute attribute(PristineLevel::VertexAttribute const& a) {
    return {a.offset, glComponentType(a.type), a.count};
}

void fillCommon(DrawList::Entry& e, PristineLevel::MeshCommon const& m, Context* context) {
    e.baseOffset = m.baseOffset;
    e.position = attribute(m.position);
    e.uv = attribute(m.uv);
    e.uv2 = attribute(m.uv2);
    e.vertexBuffer = m.vertexBuffer;
    e.stride = m.stride;
    e.blend = m.blend;
    e.color = m.color;
    if (m.texture) {
        e.texture = Graphics::Texture(context, *m.texture);
    }
    if (m.mask) {
        e.mask = Graphics::Texture(context, *m.mask);
    }
    if (m.matrix) {
        e.matrix = *m.matrix;
    }
    e.shader = m.shader;
}

// Whether vertices 0 .. vertexEnd - 1 of the entry lie inside its vertex buffer for every
// attribute it reads (the uv ones only when present).
bool verticesFit(DrawList::Entry const& e, std::uint64_t vertexEnd, std::uint64_t bufferSize) {
    if (e.position.count < 1 || e.position.count > 4 || e.uv.count > 4 || e.uv2.count > 4) {
        return false;
    }
    if (vertexEnd == 0) {
        return true;
    }
    for (DrawList::Attribute const* a : {&e.position, &e.uv, &e.uv2}) {
        if (a->count == 0) {
            continue;
        }
        unsigned __int128 const bytes = componentBytes(a->type) * a->count;
        unsigned __int128 const stride = e.stride != 0 ? e.stride : bytes;
        if (e.stride != 0 && a->offset + bytes > e.stride) {
            return false;
        }
        unsigned __int128 const end = e.baseOffset + (vertexEnd - 1) * stride + a->offset + bytes;
        if (end > bufferSize) {
            return false;
        }
    }
    return true;
}

// Byte distance between consecutive vertices of one attribute: the entry's stride, or the
// attribute's own size when the vertices are packed tightly (stride 0).
std::uint64_t attributeStride(DrawList::Entry const& e, DrawList::Attribute const& a) {
    return e.stride != 0 ? e.stride : componentBytes(a.type) * a.count;
}

// An array entry's vertices start at its base offset (its first vertex) and are drawn as vertices
// first .. first + count - 1, so each attribute's array begins `first` vertices before that.
// False when that lies before the start of the buffer.
bool firstVertexReachable(DrawList::ArrayEntry const& e) {
    for (DrawList::Attribute const* a : {&e.position, &e.uv, &e.uv2}) {
        if (a->count != 0 && e.baseOffset + a->offset < std::uint64_t(e.first) * attributeStride(e, *a)) {
            return false;
        }
    }
    return true;
}

// The largest index an indexed entry draws, or nothing when its indices leave the index buffer.
std::optional<std::uint64_t> largestIndex(DrawList::IndexedEntry const& e, std::vector<std::uint8_t> const& bytes) {
    std::uint64_t const size = e.indexType == GL_UNSIGNED_BYTE ? 1 : 2;
    if (e.indexOffset % size != 0 || std::uint64_t(e.indexOffset) + std::uint64_t(e.indexCount) * size > bytes.size()) {
        return std::nullopt;
    }
    std::uint64_t largest = 0;
    std::uint8_t const* p = bytes.data() + e.indexOffset;
    for (std::uint32_t i = 0; i < e.indexCount; ++i) {
        std::uint64_t const index = size == 1 ? p[i] : std::uint64_t(p[2 * i]) | std::uint64_t(p[2 * i + 1]) << 8;
        largest = std::max(largest, index);
    }
    return largest;
}

void invalidate(DrawList::Entry& e, char const* what, std::size_t index) {
    std::fprintf(stderr, "DrawList: %s entry %zu reads outside its buffers; dropped\n", what, index);
    e.valid = false;
}

bool usableBox(PristineLevel::MeshNode const& node) {
    for (int i = 0; i < 3; ++i) {
        if (!std::isfinite(node.box.min[i]) || !std::isfinite(node.box.max[i]) || node.box.min[i] > node.box.max[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

DrawList::DrawList(Context* context, PristineLevel::MeshSet const& meshSet, WorldDrawers* world,
                   EffectTargets* targets)
    : world_(world), targets_(targets), context_(context) {
    // A refit leaf goes back in near where it left, not from the root: moving drawables mostly
    // move a little each frame.
    tree_.m_lkhd = 0;
    // Buffers first: the entries are checked against them.
    auto makeBuffers = [&](std::vector<PristineLevel::BufferData> const& records, GLenum target,
                           std::vector<Buffer>& out) {
        out.reserve(records.size());
        for (PristineLevel::BufferData const& r : records) {
            Buffer& b = out.emplace_back();
            b.size = r.bytes.size();
            if (context_ != nullptr) {
                b.buffer = Graphics::VertexBuffer(
                    context_, Graphics::VertexBufferDescriptor(r.usage == 1 ? 1 : 3, target, r.bytes.size(),
                                                               r.bytes.data(), glBufferUsage(r.usage)));
            }
        }
    };
    makeBuffers(meshSet.vertexBuffers, GL_ARRAY_BUFFER, geometry_.vertexBuffers);
    makeBuffers(meshSet.indexBuffers, GL_ELEMENT_ARRAY_BUFFER, geometry_.indexBuffers);

    geometry_.arrays.reserve(meshSet.arrayMeshes.size());
    for (std::size_t i = 0; i < meshSet.arrayMeshes.size(); ++i) {
        PristineLevel::ArrayMesh const& m = meshSet.arrayMeshes[i];
        ArrayEntry& e = geometry_.arrays.emplace_back();
        fillCommon(e, m, context_);
        e.mode = glPrimitiveMode(m.primitive);
        e.first = m.firstVertex;
        e.count = m.vertexCount;
        if (e.vertexBuffer >= geometry_.vertexBuffers.size() ||
            !verticesFit(e, e.count, geometry_.vertexBuffers[e.vertexBuffer].size) || !firstVertexReachable(e)) {
            invalidate(e, "array", i);
        }
    }
    geometry_.indexed.reserve(meshSet.indexedMeshes.size());
    for (std::size_t i = 0; i < meshSet.indexedMeshes.size(); ++i) {
        PristineLevel::IndexedMesh const& m = meshSet.indexedMeshes[i];
        IndexedEntry& e = geometry_.indexed.emplace_back();
        fillCommon(e, m, context_);
        e.mode = glPrimitiveMode(m.primitive);
        e.indexType = glComponentType(m.indexType);
        e.indexOffset = m.indexOffset;
        e.indexCount = m.indexCount;
        e.indexBuffer = m.indexBuffer;
        // GL ES 2 draws byte and short indices only.
        std::optional<std::uint64_t> const largest =
            e.indexType != GL_FLOAT && e.indexBuffer < meshSet.indexBuffers.size()
                ? largestIndex(e, meshSet.indexBuffers[e.indexBuffer].bytes)
                : std::nullopt;
        if (!largest || e.vertexBuffer >= geometry_.vertexBuffers.size() ||
            !verticesFit(e, e.indexCount == 0 ? 0 : *largest + 1, geometry_.vertexBuffers[e.vertexBuffer].size)) {
            invalidate(e, "indexed", i);
        }
    }

    // Handles: the vector never grows again, so the leaves can point into it.
    handles_.reserve(meshSet.nodes.size());
    for (PristineLevel::MeshNode const& node : meshSet.nodes) {
        handles_.push_back({node.kind, node.index, nullptr});
    }
    bool const lowEnd = isLowEndDevice();
    std::size_t dropped = 0;
    for (std::size_t i = 0; i < handles_.size(); ++i) {
        PristineLevel::MeshNode const& node = meshSet.nodes[i];
        Handle& h = handles_[i];
        if (h.kind == kArrayLightLayer || h.kind == kIndexedLightLayer) {
            hasLightLayers_ = 1;
        }
        bool usable = h.kind <= kGoldComposite && usableBox(node);
        if (usable && (h.kind == kArrayMesh || h.kind == kIndexedMesh || h.kind == kArrayLightLayer ||
                       h.kind == kIndexedLightLayer)) {
            Entry const* e = entry(h);
            usable = e != nullptr && e->valid;
        }
        if (!usable) {
            ++dropped;
            continue;
        }
        if (lowEnd && node.lowEnd != 0) {
            continue;
        }
        btDbvtVolume const box = btDbvtVolume::FromMM(btVector3(node.box.min.x, node.box.min.y, node.box.min.z),
                                                      btVector3(node.box.max.x, node.box.max.y, node.box.max.z));
        h.leaf = tree_.insert(box, &h);
    }
    if (dropped != 0) {
        std::fprintf(stderr, "DrawList: %zu of %zu drawables dropped (unknown kind, bad box or bad entry)\n", dropped,
                     handles_.size());
    }

    for (Handle& h : handles_) {
        if (h.leaf == nullptr || !(h.kind == kArrayMesh || h.kind == kIndexedMesh || h.kind == kArrayLightLayer ||
                                   h.kind == kIndexedLightLayer)) {
            continue;
        }
        Entry const* e = entry(h);
        if (e->texture.isOnDemand() || e->mask.isOnDemand()) {
            onDemand_.push_back({&h, 0.0f});
        }
    }
}

DrawList::~DrawList() = default;

DrawList::Entry* DrawList::entry(Handle const& handle) {
    if (handle.kind == kArrayMesh || handle.kind == kArrayLightLayer) {
        return handle.index < geometry_.arrays.size() ? &geometry_.arrays[handle.index] : nullptr;
    }
    return handle.index < geometry_.indexed.size() ? &geometry_.indexed[handle.index] : nullptr;
}

DrawList::Buffer const* DrawList::vertexBufferOf(Entry const& e) const {
    return e.vertexBuffer < geometry_.vertexBuffers.size() ? &geometry_.vertexBuffers[e.vertexBuffer] : nullptr;
}

// ---- Culling

namespace {

struct GenericAABBCollector : btDbvt::ICollide {
    std::vector<std::pair<DrawList::Handle*, float>>& out;
    explicit GenericAABBCollector(std::vector<std::pair<DrawList::Handle*, float>>& list) : out(list) {}
    void Process(btDbvtNode const* leaf) override { out.emplace_back(static_cast<DrawList::Handle*>(leaf->data), 0.0f); }
    bool Descent(btDbvtNode const*) override { return true; }
    bool AllLeaves(btDbvtNode const*) override { return true; }
};

float squaredDistance(glm::vec2 p, btDbvtVolume const& box) {
    float const dx = p.x < box.Mins().x() ? box.Mins().x() - p.x : (p.x > box.Maxs().x() ? p.x - box.Maxs().x() : 0.0f);
    float const dy = p.y < box.Mins().y() ? box.Mins().y() - p.y : (p.y > box.Maxs().y() ? p.y - box.Maxs().y() : 0.0f);
    return dx * dx + dy * dy;
}

}  // namespace

void DrawList::updateGL(View const& view) {
    if (!onDemand_.empty()) {
        for (auto& pair : onDemand_) {
            pair.second = squaredDistance(view.position, pair.first->leaf->volume);
        }
        std::stable_sort(onDemand_.begin(), onDemand_.end(),
                         [](auto const& a, auto const& b) { return a.second > b.second; });
        // Farthest first, so the nearest entries get the highest numbers.
        std::uint64_t* counter = context_ != nullptr ? &context_->textureRequestCounter() : nullptr;
        for (auto const& pair : onDemand_) {
            Entry* e = entry(*pair.first);
            for (Graphics::Texture* t : {&e->texture, &e->mask}) {
                if (t->isOnDemand() && counter != nullptr) {
                    t->setRequestOrder((*counter)++);
                }
            }
        }
    }

    visible_.clear();
    GenericAABBCollector collector(visible_);
    btDbvt::collideKDOP(tree_.m_root, view.normals.data(), view.offsets.data(), 4, collector);
    // Gold particles first, then the light layers, then the rest, each group in handle order: one
    // sort on (group, handle), since stable partitions allocate a buffer every frame.
    auto const group = [](Visible const& v) {
        std::uint32_t const kind = v.first->kind;
        return kind == kGoldParticles ? 0 : (kind == kArrayLightLayer || kind == kIndexedLightLayer ? 1 : 2);
    };
    std::sort(visible_.begin(), visible_.end(), [&group](Visible const& a, Visible const& b) {
        int const ga = group(a), gb = group(b);
        return ga != gb ? ga < gb : a.first < b.first;
    });
    auto const goldEnd =
        std::partition_point(visible_.begin(), visible_.end(), [&group](Visible const& v) { return group(v) == 0; });
    auto const lightEnd =
        std::partition_point(goldEnd, visible_.end(), [&group](Visible const& v) { return group(v) == 1; });
    goldEnd_ = std::size_t(goldEnd - visible_.begin());
    lightEnd_ = std::size_t(lightEnd - visible_.begin());
}

bool DrawList::isVisible(Handle const& handle) const {
    auto const byAddress = [](Visible const& v, Handle const* h) { return v.first < h; };
    std::size_t const bounds[4] = {0, goldEnd_, lightEnd_, visible_.size()};
    for (int r = 0; r < 3; ++r) {
        auto const begin = visible_.begin() + std::ptrdiff_t(bounds[r]);
        auto const end = visible_.begin() + std::ptrdiff_t(bounds[r + 1]);
        auto const it = std::lower_bound(begin, end, &handle, byAddress);
        if (it != end && it->first == &handle) {
            return true;
        }
    }
    return false;
}

std::vector<DrawList::Handle const*> DrawList::visibleHandles() const {
    std::vector<Handle const*> out;
    out.reserve(visible_.size());
    for (Visible const& v : visible_) {
        out.push_back(v.first);
    }
    return out;
}

// ---- Drawing

namespace {

// A tinted entry: nothing to draw when fully transparent, the plain mode when white, else the
// tinting mode with the colour.
bool selectTint(StandardShader* shader, glm::vec4 const& colour, std::uint32_t plainMode, std::uint32_t tintMode) {
    if (colour == glm::vec4(0.0f)) {
        return false;
    }
    if (colour == glm::vec4(1.0f)) {
        shader->use(plainMode);
    } else {
        shader->use(tintMode);
        shader->setColor(colour);
    }
    return true;
}

}  // namespace

bool DrawList::setupEntry(Entry& e, std::uint32_t firstVertex, Context* context, StandardShader* shader) {
    // Where vertex 0 of each attribute's array lies, given that vertex `firstVertex` is at the base offset.
    auto origin = [&](Attribute const& a) {
        return std::uintptr_t(e.baseOffset + a.offset - std::uint64_t(firstVertex) * attributeStride(e, a));
    };
    switch (e.shader) {
    case PristineLevel::MeshCommon::maskShader: {
        if (!selectTint(shader, e.color, StandardShader::kMask, StandardShader::kColorMask)) {
            return false;
        }
        Buffer const* vb = vertexBufferOf(e);
        // An absent second uv reads the positions, which lie inside the buffer.
        Attribute const& uv2 = e.uv2.count != 0 ? e.uv2 : e.position;
        shader->setVertexAttribute(vb->glName(), 2, origin(uv2), GLsizei(e.stride), GLint(uv2.count), uv2.type);
        bindTexture(context, e.mask, GL_TEXTURE1);
        break;
    }
    case PristineLevel::MeshCommon::colorShader:
        if (!selectTint(shader, e.color, StandardShader::kTextured, StandardShader::kColor)) {
            return false;
        }
        break;
    case PristineLevel::MeshCommon::texturedShader:
        shader->use(StandardShader::kTextured);
        break;
    default:
        break;  // keeps the current mode
    }
    shader->setPVM(e.matrix ? context->projectionView() * *e.matrix : context->projectionView());
    Buffer const* vb = vertexBufferOf(e);
    shader->setVertexAttribute(vb->glName(), 0, origin(e.position), GLsizei(e.stride), GLint(e.position.count),
                               e.position.type);
    Attribute const& uv = e.uv.count != 0 ? e.uv : e.position;
    shader->setVertexAttribute(vb->glName(), 1, origin(uv), GLsizei(e.stride), GLint(uv.count), uv.type);
    bindTexture(context, e.texture, GL_TEXTURE0);
    context->setBlend(e.blend != 0);
    return true;
}

void DrawList::drawMesh(Handle const& handle, Context* context, StandardShader* shader) {
    Entry* e = entry(handle);
    if (e == nullptr || !e->valid || e->hidden != 0 || (e->texture && !e->texture.isReady()) ||
        (e->mask && !e->mask.isReady())) {
        return;
    }
    bool const array = handle.kind == kArrayMesh || handle.kind == kArrayLightLayer;
    if (!setupEntry(*e, array ? static_cast<ArrayEntry const*>(e)->first : 0, context, shader)) {
        return;
    }
    if (array) {
        auto const& a = static_cast<ArrayEntry const&>(*e);
        shader->drawArrays(a.mode, GLint(a.first), GLsizei(a.count));
    } else {
        auto const& i = static_cast<IndexedEntry const&>(*e);
        shader->drawElements(geometry_.indexBuffers[i.indexBuffer].glName(), i.indexOffset, GLsizei(i.indexCount),
                             i.mode, i.indexType);
    }
}

void DrawList::drawEffectLayers(Context* context, StandardShader* shader) {
    if (targets_ == nullptr) {
        return;
    }
    bool ran = false;
    GoldParticles* gold = world_ != nullptr ? world_->goldParticles() : nullptr;
    if (goldEnd_ != 0 && gold != nullptr) {
        targets_->bindHalfTarget();
        Graphics::gl::clearColor(0.0f, 0.0f, 0.0f, 0.0f);
        Graphics::gl::clear(GL_COLOR_BUFFER_BIT);
        context->setBlendFunc(GL_ONE, GL_ONE);
        for (std::size_t i = 0; i < goldEnd_; ++i) {
            gold->draw(context);
        }
        ran = true;
    }
    if (hasLightLayers_ != 0) {
        targets_->bindQuarterTarget();
        Graphics::gl::clearColor(0.0f, 0.0f, 0.0f, 0.0f);
        Graphics::gl::clear(GL_COLOR_BUFFER_BIT);
        context->setBlendFunc(GL_ONE, GL_ONE);
        for (std::size_t i = goldEnd_; i < lightEnd_; ++i) {
            drawMesh(*visible_[i].first, context, shader);
        }
        ran = true;
    }
    if (ran) {
        targets_->bindSceneTarget();
        context->restoreBlendFunc();
    }
}

void DrawList::draw(Context* context, StandardShader* shader) {
    for (std::size_t i = lightEnd_; i < visible_.size(); ++i) {
        Handle const& h = *visible_[i].first;
        switch (h.kind) {
        case kArrayMesh:
        case kIndexedMesh:
            drawMesh(h, context, shader);
            break;
        case kParticleEmitter:
            if (world_ != nullptr && h.index < world_->particleEmitterCount()) {
                world_->drawParticleEmitter(h.index, context, shader);
            }
            break;
        case kPlayer:
            if (world_ != nullptr) {
                world_->drawPlayer(context, shader);
            }
            break;
        case kFluidVolume:
            if (world_ != nullptr && h.index < world_->fluidVolumeCount()) {
                world_->drawFluidVolume(h.index, context, shader);
            }
            break;
        case kGoldComposite: {
            GoldParticles* gold = world_ != nullptr ? world_->goldParticles() : nullptr;
            if (gold != nullptr && targets_ != nullptr) {
                gold->drawGoldPass(context, targets_->fullScreenQuad(), targets_->halfTargetTexture());
            }
            if (gold != nullptr) {
                gold->drawShapes(context, shader);
            }
            break;
        }
        default:
            break;
        }
    }
    if (hasLightLayers_ != 0 && targets_ != nullptr) {
        // The light layers multiply the scene.
        context->setBlend(true);
        context->setBlendFunc(GL_ZERO, GL_SRC_COLOR);
        shader->use(StandardShader::kTextured);
        shader->setPVM(glm::mat4(1.0f));
        context->bindTextureUnit(GL_TEXTURE0, targets_->quarterTargetTexture());
        float const* quad = targets_->fullScreenQuad();
        shader->setVertexAttribute(0, 0, reinterpret_cast<std::uintptr_t>(quad), 16, 2, GL_FLOAT);
        shader->setVertexAttribute(0, 1, reinterpret_cast<std::uintptr_t>(quad + 2), 16, 2, GL_FLOAT);
        shader->drawArrays(GL_TRIANGLE_STRIP, 0, 4);
        context->restoreBlendFunc();
    }
}

void updateDrawBounds(btDbvt& tree, btDbvtNode* leaf, float const* points, std::size_t count, std::size_t stride) {
    if (leaf == nullptr) {
        return;
    }
    // No vertices, or a vertex that is not a number, gives the inverted box: culled everywhere,
    // never a stale box that keeps the drawable in view.
    btVector3 lo(FLT_MAX, FLT_MAX, FLT_MAX);
    btVector3 hi(-FLT_MAX, -FLT_MAX, -FLT_MAX);
    for (std::size_t i = 0; i < count && points != nullptr; ++i) {
        float const* p = points + i * stride;
        if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) {
            lo = btVector3(FLT_MAX, FLT_MAX, FLT_MAX);
            hi = btVector3(-FLT_MAX, -FLT_MAX, -FLT_MAX);
            break;
        }
        lo.setMin(btVector3(p[0], p[1], p[2]));
        hi.setMax(btVector3(p[0], p[1], p[2]));
    }
    if (lo == leaf->volume.Mins() && hi == leaf->volume.Maxs()) {
        return;
    }
    btDbvtVolume box = btDbvtVolume::FromMM(lo, hi);
    tree.update(leaf, box);
}
