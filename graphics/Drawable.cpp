#include "graphics/Drawable.h"

#include <cstdio>

#include "graphics/Context.h"

Drawable::Drawable(PristineLevel::MeshSet const& meshSet, DrawList* list, std::size_t index) : list_(list) {
    if (list == nullptr || index >= list->handleCount() || index >= meshSet.nodes.size()) {
        std::fprintf(stderr, "Drawable: no drawable %zu in this level\n", index);
        return;
    }
    handle_ = &list->handleRecord(index);
    entry_ = list->entry(*handle_);
    if (entry_ != nullptr) {
        vertexBuffer_ = list->vertexBufferOf(*entry_);
        if (entry_->matrix) {
            localTransform_ = *entry_->matrix;
        }
    }
    box_ = meshSet.nodes[index].box;
}

std::vector<Drawable> Drawable::createDrawables(PristineLevel::MeshSet const& meshSet, DrawList* list,
                                                std::vector<std::uint32_t> const& indices) {
    std::vector<Drawable> out;
    out.reserve(indices.size());
    for (std::uint32_t index : indices) {
        out.emplace_back(meshSet, list, index);
    }
    return out;
}

void Drawable::setTransform(glm::mat4 const& m) {
    if (entry_ != nullptr) {
        entry_->matrix = localTransform_ ? m * *localTransform_ : m;
    }
}

void Drawable::updateBounds() {
    if (entry_ == nullptr || !entry_->matrix || handle_ == nullptr) {
        return;
    }
    float corners[8 * 4];
    for (int i = 0; i < 8; ++i) {
        glm::vec4 const local((i & 1) ? box_.max.x : box_.min.x, (i & 2) ? box_.max.y : box_.min.y,
                              (i & 4) ? box_.max.z : box_.min.z, 1.0f);
        glm::vec4 const world = *entry_->matrix * local;
        for (int k = 0; k < 4; ++k) {
            corners[i * 4 + k] = world[k];
        }
    }
    updateDrawBounds(list_->tree(), handle_->leaf, corners, 8, 4);
}

void Drawable::show() {
    if (entry_ != nullptr) {
        entry_->hidden = 0;
    }
}

void Drawable::hide() {
    if (entry_ != nullptr) {
        entry_->hidden = 1;
    }
}

bool Drawable::isHidden() const { return entry_ != nullptr && entry_->hidden != 0; }

void Drawable::setColor(glm::vec4 const& color) {
    if (entry_ != nullptr) {
        entry_->color = color;
    }
}

bool Drawable::isVisible() const { return handle_ != nullptr && list_->isVisible(*handle_); }

void Drawable::uploadVertices(Graphics::Context* context, void const* data, std::size_t size) {
    if (!isVisible() || entry_ == nullptr || vertexBuffer_ == nullptr || context == nullptr) {
        return;
    }
    // The base offset is the entry's first vertex, also for an array entry drawn from a later
    // vertex number.
    std::uint64_t const offset = entry_->baseOffset + entry_->position.offset;
    if (offset > vertexBuffer_->size || size > vertexBuffer_->size - offset) {
        std::fprintf(stderr, "Drawable: %zu vertex bytes do not fit the buffer; not uploaded\n", size);
        return;
    }
    context->bindBuffer(GL_ARRAY_BUFFER, vertexBuffer_->glName());
    context->bufferSubData(GL_ARRAY_BUFFER, GLintptr(offset), GLsizeiptr(size), data);
}
