#pragma once
// The agent's five persisted string-keyed maps, each loaded once from its archive file and
// guarded by its own concurrent queue: reads run side by side, writes run alone as barriers.
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <memory>

#include "platform/base/Value.h"
#include "platform/base/WorkQueue.h"

using platform::Value;

class TallyGlobalPersistentManager {
public:
    enum Map { Globals, Cookies, Urls, PulseUrls, PulsePrepUrls, kMapCount };
    using Reader = std::function<void(Value::Dict const&)>;
    using Writer = std::function<void(Value::Dict&)>;

    static std::shared_ptr<TallyGlobalPersistentManager> sharedInstance();
    // Drops the shared manager after its queued work; the next one loads the files again.
    static void cleanup();
    // Loads each map from the file the settings store names for it.
    TallyGlobalPersistentManager();
    // Runs what is queued on the maps, then the saves they queued.
    ~TallyGlobalPersistentManager();

    void processReadOperationForPersistentGlobalsMap(Reader block) { read(Globals, std::move(block)); }
    void processReadOperationForPersistentGlobalsMapSync(Reader const& block) { readSync(Globals, block); }
    void processWriteOperationForPersistentGlobalsMap(Writer block) { write(Globals, std::move(block)); }
    void processReadOperationForPersistentCookiesMap(Reader block) { read(Cookies, std::move(block)); }
    void processReadOperationForPersistentCookiesMapSync(Reader const& block) { readSync(Cookies, block); }
    void processWriteOperationForPersistentCookiesMap(Writer block) { write(Cookies, std::move(block)); }
    void processWriteOperationForPersistentCookiesMapSync(Writer const& block) { writeSync(Cookies, block); }
    void processReadOperationForPersistentUrlMap(Reader block) { read(Urls, std::move(block)); }
    void processWriteOperationForPersistentUrlMap(Writer block) { write(Urls, std::move(block)); }
    void processReadOperationForPersistentPulseUrlMap(Reader block) { read(PulseUrls, std::move(block)); }
    void processWriteOperationForPersistentPulseUrlMap(Writer block) { write(PulseUrls, std::move(block)); }
    void processWriteOperationForPersistentPulseUrlMapSync(Writer const& block) { writeSync(PulseUrls, block); }
    void processReadOperationForPersistentPulsePrepUrlMap(Reader block) { read(PulsePrepUrls, std::move(block)); }
    void processWriteOperationForPersistentPulsePrepUrlMap(Writer block) { write(PulsePrepUrls, std::move(block)); }

    void read(Map map, Reader block);
    void readSync(Map map, Reader const& block);
    void write(Map map, Writer block);
    void writeSync(Map map, Writer const& block);

    // Queues a save of the map to the file: a read, so it never delays other reads and always
    // writes a state between two writes. Saves of one map never put an older state over a newer.
    void save(Map map, std::filesystem::path const& path);
    // Waits until every block queued so far on every map has run.
    void waitUntilIdle();
    // The saves queued so far on the shared manager, if there is one, are on disk unless the
    // deadline passed first.
    static bool finishSaves(std::chrono::steady_clock::time_point deadline);

    static char const* queueLabel(Map map);

private:
    struct Slot {
        std::unique_ptr<platform::WorkQueue> queue;
        Value::Dict map;
        uint64_t generation = 0;  // counts the writes; read only on the queue
        // File writes happen here, so a save holds the map's queue only while it encodes.
        std::unique_ptr<platform::WorkQueue> saveQueue;
        std::map<std::string, uint64_t> savedGenerations;  // by path; touched only on saveQueue
    };
    std::array<Slot, kMapCount> slots_;
};
