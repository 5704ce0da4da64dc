#pragma once

namespace Audio {

// A group of sounds (level sounds, menu sounds) whose volume fades together.
struct VolumeCategory {
    float volume = 1.0f;
    float fadeRate = 0.0f;  // volume change per millisecond; negative fades out
    bool held = false;      // fades wait; the volume stays as set
};

}  // namespace Audio
