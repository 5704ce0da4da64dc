#include "graphics/DecompressionThread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "graphics/DecompressionQueue.h"

namespace Graphics {

std::string DecompressionThread::threadName(uint64_t index) { return "DecompThread " + std::to_string(index); }

int DecompressionThread::niceIncrement(bool lowEnd) { return lowEnd ? 5 : 10; }

void DecompressionThread::entry(DecompressionQueue* queue, uint64_t index, bool lowEnd) {
    // Per-thread nice value: only ever raised, which needs no privilege; a refusal is harmless.
    auto const tid = id_t(syscall(SYS_gettid));
    errno = 0;
    int const current = getpriority(PRIO_PROCESS, tid);
    if (errno == 0) setpriority(PRIO_PROCESS, tid, current + niceIncrement(lowEnd));
    pthread_setname_np(pthread_self(), threadName(index).c_str());
    while (queue->runWorkerStep(unsigned(index))) {
    }
}

}  // namespace Graphics
