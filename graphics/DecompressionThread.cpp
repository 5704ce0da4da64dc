#include "graphics/DecompressionThread.h"

#include "platform/base/AlternateSignalStack.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "graphics/DecompressionQueue.h"
#include "graphics/GraphicsLog.h"
#include "graphics/ImageDecoding.h"
#include "graphics/TextureEntry.h"
#include "os/File.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"

namespace Graphics {

std::string DecompressionThread::threadName(uint64_t index) { return "DecompThread " + std::to_string(index); }

int DecompressionThread::niceIncrement(bool lowEnd) { return lowEnd ? 5 : 10; }

void DecompressionThread::entry(StartRecord record) {
    platform::AlternateSignalStack::installForThisThread();
    // Per-thread nice value: only ever raised, which needs no privilege; a refusal is harmless.
    auto const tid = id_t(syscall(SYS_gettid));
    errno = 0;
    int const current = getpriority(PRIO_PROCESS, tid);
    if (errno == 0) setpriority(PRIO_PROCESS, tid, current + niceIncrement(record.lowEnd != 0));
    pthread_setname_np(pthread_self(), threadName(record.index).c_str());
    while (run(*record.queue, record.index)) {
    }
}

bool DecompressionThread::run(DecompressionQueue& queue, uint64_t) {
    QueuedTexture job;
    uint8_t* area = nullptr;
    std::string path;
    uint16_t width = 0, height = 0;
    uint8_t channels = 0;
    {
        std::unique_lock<std::mutex> lock(queue.mutex_);
        auto& inUse = queue.areaInUse_;
        auto freeArea = [&inUse] { return std::find(inUse.begin(), inUse.end(), uint8_t(0)); };
        // Waits, rather than spins, while every area holds an image that is not uploaded yet.
        queue.wake_.wait(lock, [&] { return queue.stopping_ || (!queue.queued_.empty() && freeArea() != inUse.end()); });
        if (queue.stopping_) return false;
        auto it = freeArea();
        *it = 1;
        area = queue.areas_.get() + uint64_t(it - inUse.begin()) * DecompressionQueue::kAreaBytes;
        job = queue.queued_.back();
        queue.queued_.pop_back();
        TextureEntry const& e = job.slot->entry;
        path = e.path;
        width = e.width;
        height = e.height;
        channels = e.channels;
    }
    auto file = Singleton<FileSystem>::instance().open(path);
    bool ok = decodeImage(file->data(), size_t(file->size()), width, height, channels, area,
                          DecompressionQueue::kAreaBytes);
    if (!ok) {
        logLine("cannot decode \"" + path + "\"; the texture stays empty");
        std::memset(area, 0, std::min<uint64_t>(uint64_t(width) * height * channels, DecompressionQueue::kAreaBytes));
    }
    std::lock_guard<std::mutex> lock(queue.mutex_);
    queue.finished_.push_back(DecodeJob{job.hash, job.slot, area, ok});
    return true;
}

}  // namespace Graphics
