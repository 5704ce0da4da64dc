#include "analytics/agent/TallyGlobalPersistentManager.h"

#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyUtil.h"
#include "platform/base/AtomicFile.h"
#include "platform/base/KeyedArchive.h"

#include <algorithm>
#include <mutex>

namespace {

// Never destroyed: an agent worker may still ask for the manager while the process's statics
// go away (a game that stops by an error at start).
std::mutex& sharedMutex() {
    static auto* m = new std::mutex;
    return *m;
}
std::shared_ptr<TallyGlobalPersistentManager>& sharedSlot() {
    static auto* m = new std::shared_ptr<TallyGlobalPersistentManager>;
    return *m;
}

std::filesystem::path pathOf(TallyGlobalPersistentManager::Map map) {
    using M = TallyGlobalPersistentManager;
    switch (map) {
        case M::Globals:
            return TallyGlobalVariableStorage::persistentGlobalsFilePath();
        case M::Cookies:
            return TallyGlobalVariableStorage::persistentCookiesFilePath();
        case M::Urls:
            return TallyGlobalVariableStorage::persistentUrlsFilePath();
        case M::PulseUrls:
            return TallyGlobalVariableStorage::persistentPulseUrlsFilePath();
        default:
            return TallyGlobalVariableStorage::persistentPulsePrepUrlsFilePath();
    }
}

}  // namespace

char const* TallyGlobalPersistentManager::queueLabel(Map map) {
    static char const* const labels[kMapCount] = {
        "com.Tally.persistentGlobalsMapQueue", "com.Tally.persistentCookiesMapQueue",
        "com.Tally.persistentUrlsMapQueue", "com.Tally.persistenPulseUrlsMapQueue",
        "com.Tally.persistenPulsePrepUrlsMapQueue"};
    return labels[map];
}

std::shared_ptr<TallyGlobalPersistentManager> TallyGlobalPersistentManager::sharedInstance() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    if (!sharedSlot()) sharedSlot() = std::make_shared<TallyGlobalPersistentManager>();
    return sharedSlot();
}

void TallyGlobalPersistentManager::cleanup() {
    std::shared_ptr<TallyGlobalPersistentManager> old;
    {
        std::lock_guard<std::mutex> lock(sharedMutex());
        old.swap(sharedSlot());
    }
    if (old) old->waitUntilIdle();
}

TallyGlobalPersistentManager::TallyGlobalPersistentManager() {
    for (int m = 0; m < kMapCount; ++m) {
        auto v = TallyUtil::safeUnarchiveObjectWithFile(pathOf(Map(m)));
        if (v && v->dict()) slots_[m].map = std::move(*v->dict());
    }
    for (int m = 0; m < kMapCount; ++m) {
        slots_[m].queue = std::make_unique<platform::WorkQueue>(queueLabel(Map(m)), platform::WorkQueue::Kind::Concurrent);
        slots_[m].saveQueue = std::make_unique<platform::WorkQueue>(std::string(queueLabel(Map(m))) + ".save");
    }
}

TallyGlobalPersistentManager::~TallyGlobalPersistentManager() {
    for (Slot& s : slots_) s.queue.reset();
    for (Slot& s : slots_) s.saveQueue.reset();
}

void TallyGlobalPersistentManager::read(Map map, Reader block) {
    Slot& s = slots_[map];
    s.queue->async([&s, block = std::move(block)] { block(s.map); });
}

void TallyGlobalPersistentManager::readSync(Map map, Reader const& block) {
    Slot& s = slots_[map];
    s.queue->sync([&] { block(s.map); });
}

void TallyGlobalPersistentManager::write(Map map, Writer block) {
    Slot& s = slots_[map];
    s.queue->asyncBarrier([&s, block = std::move(block)] {
        ++s.generation;
        block(s.map);
    });
}

void TallyGlobalPersistentManager::writeSync(Map map, Writer const& block) {
    Slot& s = slots_[map];
    s.queue->syncBarrier([&] {
        ++s.generation;
        block(s.map);
    });
}

void TallyGlobalPersistentManager::save(Map map, std::filesystem::path const& path) {
    Slot& s = slots_[map];
    s.queue->async([&s, path] {
        uint64_t const generation = s.generation;
        auto bytes = std::make_shared<platform::Data>(platform::KeyedArchive::encode(Value(s.map)));
        s.saveQueue->async([&s, path, generation, bytes] {
            auto const done = s.savedGenerations.find(path.string());
            if (done != s.savedGenerations.end() && generation < done->second) return;  // newer on disk
            TallyUtil::guarded([&] {
                std::string error;
                if (!platform::writeFileAtomically(path, bytes->data(), bytes->size(), &error)) {
                    TallyUtil::log(2, "+[TallyUtil _archiveObject:toPath:]: map not saved to disk at path[" +
                                          path.string() + "]");
                    return;
                }
                s.savedGenerations[path.string()] = generation;
            });
        });
    });
}

bool TallyGlobalPersistentManager::finishSaves(std::chrono::steady_clock::time_point deadline) {
    std::shared_ptr<TallyGlobalPersistentManager> maps;
    {
        std::lock_guard<std::mutex> lock(sharedMutex());
        maps = sharedSlot();
    }
    if (!maps) return true;
    auto left = [&] {
        using namespace std::chrono;
        return std::max(milliseconds(0), duration_cast<milliseconds>(deadline - steady_clock::now()));
    };
    bool done = true;
    // A save encodes on the map's queue, then writes on the save queue.
    for (Slot& s : maps->slots_) done = s.queue->waitUntilIdleFor(left()) && done;
    for (Slot& s : maps->slots_) done = s.saveQueue->waitUntilIdleFor(left()) && done;
    return done;
}

void TallyGlobalPersistentManager::waitUntilIdle() {
    for (Slot& s : slots_) s.queue->waitUntilIdle();
    for (Slot& s : slots_) s.saveQueue->waitUntilIdle();
}
