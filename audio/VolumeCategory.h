#pragma once

namespace Audio {

// A group of sounds (level sounds, menu sounds) whose volume fades together.
struct VolumeCategory {
    float volume = 1.0f;
    float fadeRate = 0.0f;  // volume change per millisecond; negative fades out
};

}  // namespace Audio
