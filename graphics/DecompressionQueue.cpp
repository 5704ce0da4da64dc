#include "graphics/DecompressionQueue.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "graphics/DecompressionThread.h"
#include "graphics/GraphicsLog.h"
#include "graphics/ImageDecoding.h"
#include "graphics/TextureEntry.h"
#include "os/File.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"

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
        threads_.emplace_back(&DecompressionThread::entry, this, uint64_t(i), lowEnd_);
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

bool DecompressionQueue::runWorkerStep(unsigned) {
    QueuedTexture job;
    uint8_t* area = nullptr;
    std::string path;
    uint16_t width = 0, height = 0;
    uint8_t channels = 0;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        auto freeArea = [this] { return std::find(areaInUse_.begin(), areaInUse_.end(), uint8_t(0)); };
        // Waits, rather than spins, while every area holds an image that is not uploaded yet.
        wake_.wait(lock, [&] { return stopping_ || (!queued_.empty() && freeArea() != areaInUse_.end()); });
        if (stopping_) return false;
        auto it = freeArea();
        *it = 1;
        area = areas_.get() + uint64_t(it - areaInUse_.begin()) * kAreaBytes;
        job = queued_.back();
        queued_.pop_back();
        TextureEntry const& e = job.slot->entry;
        path = e.path;
        width = e.width;
        height = e.height;
        channels = e.channels;
    }
    auto file = Singleton<FileSystem>::instance().open(path);
    bool ok = decodeImage(file->data(), size_t(file->size()), width, height, channels, area, kAreaBytes);
    if (!ok) {
        logLine("cannot decode \"" + path + "\"; the texture stays empty");
        std::memset(area, 0, std::min<uint64_t>(uint64_t(width) * height * channels, kAreaBytes));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    finished_.push_back(DecodeJob{job.hash, job.slot, area, ok});
    return true;
}

}  // namespace Graphics
