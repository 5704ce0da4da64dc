#pragma once
// One decode worker of the DecompressionQueue: names itself, lowers its priority, then runs
// worker steps until the queue stops.
#include <cstdint>
#include <string>

namespace Graphics {

class DecompressionQueue;

class DecompressionThread {
public:
    // What a worker is started with.
    struct StartRecord {
        uint8_t lowEnd = 0;
        uint64_t index = 0;
        DecompressionQueue* queue = nullptr;
    };

    // Linux keeps at most 15 characters of a thread name: "DecompThread 0" to "DecompThread 15".
    static std::string threadName(uint64_t index);
    // How much the worker raises its nice value: decoding yields to the main thread, a little
    // less so on low-end devices, where decoding is already slow.
    static int niceIncrement(bool lowEnd);

    static void entry(StartRecord record);
    // One worker step: waits for a queued job and a free area, decodes, files the result.
    // False once the queue is stopping.
    static bool run(DecompressionQueue& queue, uint64_t index);
};

}  // namespace Graphics
