#pragma once
// A counted handle of one atlas page in the graphics context's texture table, with the
// sampling options the page is drawn with.
#include <GLES2/gl2.h>

#include <cstdint>

#include "os/TextureDescriptor.h"

namespace Graphics {
class Context;
struct TextureEntry;
}  // namespace Graphics

namespace Fonts {

class PageTexture {
public:
    PageTexture() = default;
    PageTexture(Graphics::Context* graphics, TextureDescriptor const& descriptor);
    PageTexture(PageTexture const& other);
    PageTexture(PageTexture&& other) noexcept;
    PageTexture& operator=(PageTexture other) noexcept;
    ~PageTexture();

    GLuint glName() const;
    bool isReady() const;
    TextureOptions const& options() const { return options_; }
    // Binds the page on `unit` (GL_TEXTURE0 + n) and applies the options that differ from the
    // texture's current ones.
    void bind(GLenum unit) const;

private:
    void release();

    Graphics::Context* graphics_ = nullptr;
    uint64_t hash_ = 0;
    Graphics::TextureEntry* entry_ = nullptr;
    TextureOptions options_{};
};

}  // namespace Fonts
