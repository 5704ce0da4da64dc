#pragma once
// The real game's progress as the draw record it writes each frame shows it (the file
// ZELV_DRAW_RECORD names): what tests of the real executable count instead of the wall clock,
// which a loaded machine stretches. The wall clock only tells a game that stopped moving.
#include <chrono>
#include <filesystem>

namespace testing_support {

// The number of the last frame a draw record holds, -1 before the first.
long recordedFrame(std::filesystem::path const& record);
// The frames of so much of the game's time: 60 a second, rounded up.
long framesIn(std::chrono::milliseconds gameTime);

class FrameWatch {
public:
    FrameWatch(std::filesystem::path record, std::chrono::milliseconds stall);
    // The last frame drawn, -1 before the first.
    long frame();
    // No new frame for `stall` of the wall clock since the later of `since` and the watch's start.
    bool stalled(std::chrono::steady_clock::time_point since = {});
    std::filesystem::path const& record() const { return record_; }

private:
    std::filesystem::path record_;
    std::chrono::milliseconds stall_;
    long frame_ = -1;
    std::chrono::steady_clock::time_point movedAt_;  // when frame_ was first seen
};

}  // namespace testing_support
