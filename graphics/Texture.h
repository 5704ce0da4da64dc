#pragma once
// A counted handle of one texture of the graphics context's texture table, with the sampling
// options this handle draws with. Copies share the texture; the last one lets it go.
#include <GLES2/gl2.h>

#include <cstdint>

#include "os/TextureDescriptor.h"

namespace Graphics {

class Context;
struct TextureEntry;

class Texture {
public:
    Texture() = default;
    // A full texture table gives an empty handle (nothing drawn, nothing released).
    Texture(Context* context, TextureDescriptor const& descriptor);
    Texture(Texture const& other);
    Texture(Texture&& other) noexcept;
    Texture& operator=(Texture other) noexcept;
    ~Texture();

    explicit operator bool() const { return entry_ != nullptr; }
    Context* context() const { return context_; }
    uint64_t hash() const { return hash_; }
    TextureOptions const& options() const { return options_; }

    GLuint glName() const;
    uint16_t width() const;
    uint16_t height() const;
    // Binds on `unit` (GL_TEXTURE0 + n) and applies the options that differ from those the GL
    // texture carries now.
    void bind(GLenum unit) const;
    // Every row is uploaded.
    bool isReady() const;
    // A page texture, loaded in the order the draw list gives it.
    bool isOnDemand() const;
    void setRequestOrder(uint64_t order);

private:
    void release();

    Context* context_ = nullptr;
    uint64_t hash_ = 0;
    TextureEntry* entry_ = nullptr;
    TextureOptions options_{};
};

}  // namespace Graphics
