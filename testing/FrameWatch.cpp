#include "testing/FrameWatch.h"

#include <algorithm>
#include <fstream>
#include <string>

namespace testing_support {

long recordedFrame(std::filesystem::path const& record) {
    std::ifstream in(record);
    std::string word;
    long number = -1;
    in >> word >> number;
    return word == "frame" && in ? number : -1;
}

long framesIn(std::chrono::milliseconds gameTime) { return long((gameTime.count() * 60 + 999) / 1000); }

FrameWatch::FrameWatch(std::filesystem::path record, std::chrono::milliseconds stall)
    : record_(std::move(record)), stall_(stall), movedAt_(std::chrono::steady_clock::now()) {}

long FrameWatch::frame() {
    long const now = recordedFrame(record_);
    if (now != frame_) {
        frame_ = now;
        movedAt_ = std::chrono::steady_clock::now();
    }
    return frame_;
}

bool FrameWatch::stalled(std::chrono::steady_clock::time_point since) {
    frame();
    return std::chrono::steady_clock::now() - std::max(since, movedAt_) > stall_;
}

}  // namespace testing_support
