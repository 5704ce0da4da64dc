#pragma once
// A video playing full screen over the game: frames are decoded as their time comes and drawn
// over the whole window, cropped to fill it; its sound plays alongside.
#include <cstdint>

namespace platform {

class VideoPlayer {
public:
    virtual ~VideoPlayer() = default;
    // Moves to the frame due elapsedMs after the start; false once the video has ended.
    virtual bool update(int64_t elapsedMs) = 0;
    // Draws the current frame over a viewport of that many pixels (needs a current GL context).
    virtual void draw(int viewportWidth, int viewportHeight) = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual uint64_t framesShown() const = 0;
};

}  // namespace platform
