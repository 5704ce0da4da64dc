#pragma once
// A counted handle of a GL buffer shared by everyone who describes it the same way (same count,
// target, size, data address and usage).
#include <GLES2/gl2.h>

#include <cstdint>
#include <string>

namespace Graphics {

class Context;

struct VertexBufferDescriptor {
    int32_t count = 1;  // GL names: 1 for static data, 3 for data rewritten while drawn
    GLenum target = GL_ARRAY_BUFFER;
    uint64_t size = 0;
    void const* data = nullptr;
    GLenum usage = GL_STATIC_DRAW;

    VertexBufferDescriptor(int32_t count, GLenum target, uint64_t size, void const* data, GLenum usage)
        : count(count), target(target), size(size), data(data), usage(usage) {}

    // "count_target_size_address_usage" in decimal.
    std::string keyText() const;
};

class VertexBuffer {
public:
    VertexBuffer() = default;
    // A full buffer table gives an empty handle (GL name 0).
    VertexBuffer(Context* context, VertexBufferDescriptor const& descriptor);
    VertexBuffer(VertexBuffer const& other);
    VertexBuffer(VertexBuffer&& other) noexcept;
    VertexBuffer& operator=(VertexBuffer other) noexcept;
    ~VertexBuffer();

    GLuint glName() const { return name_ ? *name_ : 0; }
    uint64_t key() const { return key_; }

private:
    Context* context_ = nullptr;
    uint64_t key_ = 0;
    GLuint const* name_ = nullptr;
};

}  // namespace Graphics
