#pragma once
// The hand-over between the texture pass and the decode workers: queued textures, finished
// decodes and the output areas the pixels are decoded into, all under one mutex.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "graphics/DecodeJob.h"

namespace Graphics {

class DecompressionQueue {
public:
    // Room for a 1024 x 1024 RGBA image and more.
    static constexpr uint64_t kAreaBytes = 4723140;
    static constexpr unsigned kMaxWorkers = 16;

    // min(hardware threads, 16), and at least one even when the count is unknown (0).
    static unsigned workerCountFor(unsigned hardwareThreads);

    // Allocates the output areas (one more than workers) and, unless told otherwise, starts the
    // workers. Tests start them later to see the queue before anything is taken.
    DecompressionQueue(unsigned workers, bool lowEnd, bool startNow = true);
    // Stops and joins the workers before the areas are freed.
    ~DecompressionQueue();
    DecompressionQueue(DecompressionQueue const&) = delete;
    DecompressionQueue& operator=(DecompressionQueue const&) = delete;

    // A worker that cannot be started leaves the others to decode; when none starts, throws
    // std::system_error "thread constructor failed", naming the decode threads.
    void startWorkers();

    // Everything below except workerCount and capacity is called with mutex() held.
    std::mutex& mutex() { return mutex_; }
    unsigned workerCount() const { return workers_; }
    uint64_t capacity() const { return workers_ + 1; }
    // Sorted by ascending load order after each texture pass; workers take from the end.
    std::vector<QueuedTexture>& queued() { return queued_; }
    std::vector<DecodeJob>& finished() { return finished_; }
    void releaseArea(uint8_t const* area);
    bool allAreasIdle() const;
    uint64_t areasInUse() const;
    // Wakes as many workers as free areas, queued jobs and threads allow.
    void wakeWorkers();

private:
    friend class DecompressionThread;  // the workers' side of the hand-over

    unsigned const workers_;
    bool const lowEnd_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::vector<uint8_t> areaInUse_;
    std::vector<QueuedTexture> queued_;
    std::vector<DecodeJob> finished_;
    std::unique_ptr<uint8_t[]> areas_;
    std::vector<std::thread> threads_;
};

}  // namespace Graphics
