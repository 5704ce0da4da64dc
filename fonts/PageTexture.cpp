#include "fonts/PageTexture.h"

#include <utility>

#include "graphics/Context.h"
#include "graphics/GlFunctions.h"

namespace Fonts {
namespace {
GLint filterFor(uint8_t option) { return option == 1 ? GL_LINEAR : GL_NEAREST; }
GLint wrapFor(uint8_t option) { return option == 1 ? GL_REPEAT : option == 2 ? GL_MIRRORED_REPEAT : GL_CLAMP_TO_EDGE; }
}  // namespace

PageTexture::PageTexture(Graphics::Context* graphics, TextureDescriptor const& descriptor)
    : graphics_(graphics), hash_(Graphics::Context::hashName(descriptor.path)), options_(descriptor.options) {
    if (graphics_) entry_ = graphics_->requestTexture(hash_, &descriptor);
    if (!entry_) graphics_ = nullptr;  // a full table: an empty page
}

PageTexture::PageTexture(PageTexture const& other) : hash_(other.hash_), options_(other.options_) {
    if (other.graphics_) {
        entry_ = other.graphics_->requestTexture(hash_, nullptr);
        if (entry_) graphics_ = other.graphics_;
    }
}

PageTexture::PageTexture(PageTexture&& other) noexcept
    : graphics_(std::exchange(other.graphics_, nullptr)),
      hash_(other.hash_),
      entry_(std::exchange(other.entry_, nullptr)),
      options_(other.options_) {}

PageTexture& PageTexture::operator=(PageTexture other) noexcept {
    std::swap(graphics_, other.graphics_);
    std::swap(hash_, other.hash_);
    std::swap(entry_, other.entry_);
    std::swap(options_, other.options_);
    return *this;
}

PageTexture::~PageTexture() { release(); }

void PageTexture::release() {
    if (graphics_) graphics_->releaseTexture(hash_);
    graphics_ = nullptr;
    entry_ = nullptr;
}

GLuint PageTexture::glName() const { return entry_ ? entry_->glName : 0; }

bool PageTexture::isReady() const { return entry_ && entry_->resident && entry_->glName; }

void PageTexture::bind(GLenum unit) const {
    if (!graphics_) return;
    graphics_->bindTextureUnit(unit, entry_->glName);
    if (!entry_->glName) return;  // not uploaded yet: the upload applies the options
    TextureOptions& applied = entry_->options;
    if (applied == options_) return;
    graphics_->activeTexture(unit);
    if (applied.minFilter != options_.minFilter)
        Graphics::gl::texParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filterFor(options_.minFilter));
    if (applied.magFilter != options_.magFilter)
        Graphics::gl::texParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filterFor(options_.magFilter));
    if (applied.wrapS != options_.wrapS)
        Graphics::gl::texParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrapFor(options_.wrapS));
    if (applied.wrapT != options_.wrapT)
        Graphics::gl::texParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrapFor(options_.wrapT));
    applied = options_;
}

}  // namespace Fonts
