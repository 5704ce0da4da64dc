#include "graphics/Texture.h"

#include <utility>

#include "graphics/Context.h"
#include "graphics/GlFunctions.h"

namespace Graphics {
namespace {
GLint filterFor(uint8_t option) { return option == 1 ? GL_LINEAR : GL_NEAREST; }
GLint wrapFor(uint8_t option) { return option == 1 ? GL_REPEAT : option == 2 ? GL_MIRRORED_REPEAT : GL_CLAMP_TO_EDGE; }
}  // namespace

Texture::Texture(Context* context, TextureDescriptor const& descriptor)
    : context_(context), hash_(Context::hashName(descriptor.path)), options_(descriptor.options) {
    if (context_) entry_ = context_->requestTexture(hash_, &descriptor);
    if (!entry_) context_ = nullptr;
}

Texture::Texture(Texture const& other) : hash_(other.hash_), options_(other.options_) {
    if (other.context_) {
        entry_ = other.context_->requestTexture(hash_, nullptr);
        if (entry_) context_ = other.context_;
    }
}

Texture::Texture(Texture&& other) noexcept
    : context_(std::exchange(other.context_, nullptr)),
      hash_(other.hash_),
      entry_(std::exchange(other.entry_, nullptr)),
      options_(other.options_) {}

Texture& Texture::operator=(Texture other) noexcept {
    std::swap(context_, other.context_);
    std::swap(hash_, other.hash_);
    std::swap(entry_, other.entry_);
    std::swap(options_, other.options_);
    return *this;
}

Texture::~Texture() { release(); }

void Texture::release() {
    if (context_) context_->releaseTexture(hash_);
    context_ = nullptr;
    entry_ = nullptr;
}

GLuint Texture::glName() const { return entry_ ? entry_->glName : 0; }
uint16_t Texture::width() const { return entry_ ? entry_->width : 0; }
uint16_t Texture::height() const { return entry_ ? entry_->height : 0; }
bool Texture::isReady() const { return entry_ && entry_->resident && entry_->glName; }
bool Texture::isOnDemand() const { return entry_ && entry_->pageTexture; }

void Texture::setRequestOrder(uint64_t order) {
    if (entry_) entry_->loadOrder = order;
}

void Texture::bind(GLenum unit) const {
    // Past the cached units the options would land on whatever texture the active unit holds.
    if (!context_ || unit - GL_TEXTURE0 >= Context::kTextureUnitCount) return;
    context_->bindTextureUnit(unit, entry_->glName);
    if (!entry_->glName) return;  // not uploaded yet: the upload applies the entry's options
    TextureOptions& applied = entry_->options;
    if (applied == options_) return;
    context_->activeTexture(unit);
    if (applied.minFilter != options_.minFilter)
        gl::texParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filterFor(options_.minFilter));
    if (applied.magFilter != options_.magFilter)
        gl::texParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filterFor(options_.magFilter));
    if (applied.wrapS != options_.wrapS)
        gl::texParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrapFor(options_.wrapS));
    if (applied.wrapT != options_.wrapT)
        gl::texParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrapFor(options_.wrapT));
    applied = options_;
}

}  // namespace Graphics
