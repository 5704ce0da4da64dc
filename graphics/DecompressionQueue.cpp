#include "graphics/DecompressionQueue.h"

#include <algorithm>
#include <string>
#include <system_error>

#include "graphics/DecompressionThread.h"
#include "graphics/GraphicsLog.h"

namespace Graphics {

unsigned DecompressionQueue::workerCountFor(unsigned hardwareThreads) {
    return std::clamp(hardwareThreads, 1u, kMaxWorkers);
}

DecompressionQueue::DecompressionQueue(unsigned workers, bool lowEnd, bool startNow)
    : workers_(std::clamp(workers, 1u, kMaxWorkers)),
      lowEnd_(lowEnd),
      areaInUse_(workers_ + 1, 0),
      areas_(new uint8_t[(workers_ + 1) * kAreaBytes]) {
    // Reserved once so that the texture pass and the workers never allocate for the lists.
    queued_.reserve(capacity());
    finished_.reserve(capacity());
    threads_.reserve(workers_);
    if (startNow) startWorkers();
}

DecompressionQueue::~DecompressionQueue() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
}

void DecompressionQueue::startWorkers() {
    if (!threads_.empty()) return;
    for (unsigned i = 0; i < workers_; ++i) {
        try {
            threads_.emplace_back(&DecompressionThread::entry,
                                  DecompressionThread::StartRecord{uint8_t(lowEnd_ ? 1 : 0), i, this});
        } catch (std::system_error const& e) {
            // Fewer workers only decode more slowly; without any nothing would ever load.
            if (threads_.empty())
                throw std::system_error(e.code(), "thread constructor failed: no texture decode thread could start");
            logLine("decode worker " + std::to_string(i) + " did not start (" + e.what() + "); " +
                    std::to_string(threads_.size()) + " decode");
            break;
        }
    }
}

void DecompressionQueue::releaseArea(uint8_t const* area) {
    auto const offset = reinterpret_cast<uintptr_t>(area) - reinterpret_cast<uintptr_t>(areas_.get());
    uint64_t const index = offset / kAreaBytes;
    if (area && index < areaInUse_.size()) areaInUse_[index] = 0;
}

bool DecompressionQueue::allAreasIdle() const { return areasInUse() == 0; }

uint64_t DecompressionQueue::areasInUse() const {
    return uint64_t(std::count(areaInUse_.begin(), areaInUse_.end(), uint8_t(1)));
}

void DecompressionQueue::wakeWorkers() {
    uint64_t const free = areaInUse_.size() - areasInUse();
    uint64_t const n = std::min<uint64_t>({free, queued_.size(), workers_});
    for (uint64_t i = 0; i < n; ++i) wake_.notify_one();
}

}  // namespace Graphics
