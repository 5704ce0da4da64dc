#include "world/SignalFilter.h"

#include "os/EventHandler.h"

SignalFilter::SignalFilter(EventHandler* events, PristineLevel::SignalFilter const& record)
    : events_(events),
      outputSignal_(record.output),
      maxCount_(record.maxCount),
      interval_(record.interval),
      timer_(record.interval) {}

void SignalFilter::trigger() {
    if (timer_ < interval_) {
        return;
    }
    if (maxCount_ >= 0 && count_ >= maxCount_) {
        return;
    }
    events_->trigger(outputSignal_);
    ++count_;
    timer_ = 0.0f;
}

void SignalFilter::reset() {
    count_ = 0;
    timer_ = interval_;
}
