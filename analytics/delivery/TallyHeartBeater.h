#pragma once
// Posts "TallyHeartBeatNotification" at a fixed interval for the life of the process, from a
// repeating timer on the SDK loop, so the agent's parts need no timers of their own.
#include <cstdint>
#include <memory>

namespace platform {
class SdkLoop;
}

class TallyHeartBeater {
public:
    static constexpr char const* kHeartBeatNotification = "TallyHeartBeatNotification";

    // The first call makes the instance and starts it; later calls return it, ignoring interval.
    static std::shared_ptr<TallyHeartBeater> createAndStartInstance(double intervalSeconds);
    static std::shared_ptr<TallyHeartBeater> instance();
    // Drops the instance, for tests.
    static void cleanup();

    explicit TallyHeartBeater(platform::SdkLoop& loop);
    ~TallyHeartBeater();
    void start(double intervalSeconds);
    void heartBeat();

private:
    platform::SdkLoop& loop_;
    uint64_t timer_ = 0;
};
