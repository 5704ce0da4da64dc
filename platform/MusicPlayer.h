#pragma once
// A music track playing from bytes in memory. A player is made, driven and destroyed on one
// thread only (the music queue).
#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

class MusicPlayer {
public:
    virtual ~MusicPlayer() = default;
    // Endless repetition or a single play.
    virtual void setLooping(bool endless) = 0;
    virtual void setVolume(float volume) = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void stop() = 0;
    virtual bool isPlaying() const = 0;
    // Position in the track, in seconds.
    virtual double currentTime() const = 0;
    virtual void setCurrentTime(double seconds) = 0;
    // Keeps the sound device fed; called every few milliseconds.
    virtual void service() {}
};

}  // namespace platform
