#pragma once
// Passes one level signal on as another, at most once per interval and at most maxCount times
// until reset. Levels use it to debounce contacts.
#include <cstdint>

#include "level/LevelObjects.h"

class EventHandler;

class SignalFilter {
public:
    SignalFilter(EventHandler* events, PristineLevel::SignalFilter const& record);

    void update(float dt) { timer_ += dt; }
    void trigger();
    void reset();

    int32_t count() const { return count_; }

private:
    EventHandler* events_;
    uint32_t outputSignal_;
    int32_t maxCount_;  // negative: no limit
    float interval_;    // ms
    int32_t count_ = 0;
    float timer_;  // ms since the last output; starts full so the first input passes
};
