#pragma once
// What game code holds for one sound effect: a reference on the shared decoded buffer of its
// path and the pooled source it started last. The source is the handle's only while the
// source's owner is this handle; the context may give it to someone else once it stops.
// Destroying a handle whose sound still plays lets the sound fade out instead of cutting it.
#include <cstdint>

#include <glm/vec2.hpp>

#include "audio/BufferEntry.h"
#include "audio/Source.h"
#include "os/SoundDescriptor.h"

namespace Audio {
class Context;
}

class Sound {
public:
    Sound() = default;
    // An empty descriptor path makes an empty handle on which everything does nothing.
    Sound(Audio::Context* context, SoundDescriptor const& descriptor);
    ~Sound();
    // A copy shares the buffer but not the playing source.
    Sound(Sound const& other);
    Sound(Sound&& other) noexcept;
    Sound& operator=(Sound const& other);
    Sound& operator=(Sound&& other) noexcept;

    // Plays unless the handle's own source still plays or is paused: a handle never overlaps
    // itself, and play does not resume.
    void play();
    void play(SoundParams const& params);
    bool isPlaying() const;
    void pause();
    void resume();
    void stop();
    // The playing source's own gain; params().gain, used by the next play, stays as it is.
    void setGain(float gain);
    void setPosition(glm::vec2 const& position);
    void setPosition(float x, float y) { setPosition(glm::vec2(x, y)); }

    SoundParams& params() { return params_; }
    SoundParams const& params() const { return params_; }
    bool empty() const { return context_ == nullptr; }

private:
    Audio::Source* ownedSource() const;
    void release();

    Audio::Context* context_ = nullptr;
    uint64_t hash_ = 0;
    Audio::BufferEntry* entry_ = nullptr;
    Audio::Source* source_ = nullptr;
    SoundParams params_{};
};
