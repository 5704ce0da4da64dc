#include "audio/Sound.h"

#include <utility>

#include "audio/Context.h"

Sound::Sound(Audio::Context* context, SoundDescriptor const& descriptor) : params_(descriptor.params) {
    if (!context || descriptor.path.empty()) return;
    context_ = context;
    hash_ = context->hashName(descriptor.path);
    entry_ = context->acquireBuffer(hash_, descriptor.path.c_str());
}

Sound::~Sound() { release(); }

void Sound::release() {
    // A handle the bank refused holds no reference to give back.
    if (context_ && entry_) context_->releaseBuffer(hash_, this, source_);
    context_ = nullptr;
    entry_ = nullptr;
    source_ = nullptr;
}

Sound::Sound(Sound const& other) : context_(other.context_), hash_(other.hash_), params_(other.params_) {
    if (context_ && other.entry_) entry_ = context_->acquireBuffer(hash_, nullptr);
}

Sound::Sound(Sound&& other) noexcept
    : context_(std::exchange(other.context_, nullptr)),
      hash_(other.hash_),
      entry_(std::exchange(other.entry_, nullptr)),
      source_(std::exchange(other.source_, nullptr)),
      params_(other.params_) {
    if (source_ && source_->owner() == &other) source_->setOwner(this);
}

Sound& Sound::operator=(Sound const& other) {
    if (this != &other) {
        Sound copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Sound& Sound::operator=(Sound&& other) noexcept {
    if (this == &other) return *this;
    release();
    context_ = std::exchange(other.context_, nullptr);
    hash_ = other.hash_;
    entry_ = std::exchange(other.entry_, nullptr);
    source_ = std::exchange(other.source_, nullptr);
    params_ = other.params_;
    if (source_ && source_->owner() == &other) source_->setOwner(this);
    return *this;
}

Audio::Source* Sound::ownedSource() const {
    return context_ && source_ && source_->owner() == this ? source_ : nullptr;
}

void Sound::play() { play(params_); }

void Sound::play(SoundParams const& params) {
    if (!context_ || !entry_) return;
    if (Audio::Source* own = ownedSource(); own && !own->isFree()) return;
    source_ = context_->playSound(this, entry_, params);
}

bool Sound::isPlaying() const {
    Audio::Source* own = ownedSource();
    return own && own->isPlaying();
}

void Sound::pause() {
    if (Audio::Source* own = ownedSource()) own->pause();
}

void Sound::resume() {
    if (Audio::Source* own = ownedSource()) own->resume();
}

void Sound::stop() {
    if (!context_) return;
    context_->stopSource(this, source_);
    source_ = nullptr;
}

void Sound::setGain(float gain) {
    if (Audio::Source* own = ownedSource()) context_->setSourceGain(own, gain);
}

void Sound::setPosition(glm::vec2 const& position) {
    params_.position.x = position.x;
    params_.position.y = position.y;
    if (Audio::Source* own = ownedSource()) own->setPosition(params_.position);
}
