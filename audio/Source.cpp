#include "audio/Source.h"

#include <AL/al.h>

namespace Audio {

Source::Source() {
    ALuint name = 0;
    alGenSources(1, &name);
    name_ = name;
}

Source::~Source() { destroy(); }

void Source::destroy() {
    if (name_ == 0) return;
    ALuint name = name_;
    alSourceStop(name);
    alSourcei(name, AL_BUFFER, 0);
    alDeleteSources(1, &name);
    name_ = 0;
    owner_ = nullptr;
}

int Source::state() const {
    // Without a device nothing is written, so a dead source reads as never started.
    ALint state = AL_INITIAL;
    if (name_ != 0) alGetSourcei(name_, AL_SOURCE_STATE, &state);
    return state;
}

void Source::play(void const* owner) {
    if (name_ != 0) alSourcePlay(name_);
    owner_ = owner;
}

void Source::pause() {
    if (state() == AL_PLAYING) alSourcePause(name_);
}

void Source::resume() {
    if (state() == AL_PAUSED) alSourcePlay(name_);
}

void Source::stop() {
    if (name_ != 0) alSourceStop(name_);
    owner_ = nullptr;
}

bool Source::isFree() const {
    int s = state();
    return s == AL_INITIAL || s == AL_STOPPED;
}

bool Source::isPlaying() const { return state() == AL_PLAYING; }
bool Source::isPaused() const { return state() == AL_PAUSED; }

void Source::setBuffer(uint32_t buffer) {
    if (name_ != 0) alSourcei(name_, AL_BUFFER, static_cast<ALint>(buffer));
}

uint32_t Source::buffer() const {
    ALint buffer = 0;
    if (name_ != 0) alGetSourcei(name_, AL_BUFFER, &buffer);
    return static_cast<uint32_t>(buffer);
}

void Source::setLooping(bool looping) {
    if (name_ != 0) alSourcei(name_, AL_LOOPING, looping ? AL_TRUE : AL_FALSE);
}

void Source::setSourceRelative(bool relative) {
    if (name_ != 0) alSourcei(name_, AL_SOURCE_RELATIVE, relative ? AL_TRUE : AL_FALSE);
}

void Source::setPosition(glm::vec3 const& p) {
    if (name_ != 0) alSource3f(name_, AL_POSITION, p.x, p.y, p.z);
}

void Source::setReferenceDistance(float distance) {
    if (name_ != 0) alSourcef(name_, AL_REFERENCE_DISTANCE, distance);
}

void Source::setMaxDistance(float distance) {
    if (name_ != 0) alSourcef(name_, AL_MAX_DISTANCE, distance);
}

void Source::setGain(float gain) {
    gain_ = gain;
    if (name_ != 0) alSourcef(name_, AL_GAIN, gain_ * categoryVolume_);
}

void Source::setCategoryVolume(float volume) {
    if (volume == categoryVolume_) return;
    categoryVolume_ = volume;
    if (name_ != 0) alSourcef(name_, AL_GAIN, gain_ * categoryVolume_);
}

}  // namespace Audio
