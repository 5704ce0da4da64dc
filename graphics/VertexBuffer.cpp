#include "graphics/VertexBuffer.h"

#include <utility>

#include "graphics/Context.h"

namespace Graphics {

std::string VertexBufferDescriptor::keyText() const {
    return std::to_string(count) + "_" + std::to_string(target) + "_" + std::to_string(size) + "_" +
           std::to_string(reinterpret_cast<uintptr_t>(data)) + "_" + std::to_string(usage);
}

VertexBuffer::VertexBuffer(Context* context, VertexBufferDescriptor const& d)
    : context_(context), key_(Context::hashName(d.keyText())) {
    if (context_) name_ = context_->acquireBuffer(key_, uint64_t(d.count), d.target, GLsizeiptr(d.size), d.data, d.usage);
    if (!name_) context_ = nullptr;
}

VertexBuffer::VertexBuffer(VertexBuffer const& other) : key_(other.key_) {
    if (other.context_) {
        name_ = other.context_->acquireBuffer(key_, 1, 0, 0, nullptr, GL_STATIC_DRAW);
        if (name_) context_ = other.context_;
    }
}

VertexBuffer::VertexBuffer(VertexBuffer&& other) noexcept
    : context_(std::exchange(other.context_, nullptr)), key_(other.key_), name_(std::exchange(other.name_, nullptr)) {}

VertexBuffer& VertexBuffer::operator=(VertexBuffer other) noexcept {
    std::swap(context_, other.context_);
    std::swap(key_, other.key_);
    std::swap(name_, other.name_);
    return *this;
}

VertexBuffer::~VertexBuffer() {
    if (context_) context_->releaseBuffer(key_);
}

}  // namespace Graphics
