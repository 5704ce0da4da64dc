#include "analytics/delivery/TallyPulseSessionSeam.h"

#include <mutex>

namespace {
std::mutex seamMutex;
TallyPulseSessionSeam& seam() {
    static auto* s = new TallyPulseSessionSeam;  // outlives the other statics
    return *s;
}
}  // namespace

void TallyPulseSessionSeam::install(TallyPulseSessionSeam s) {
    std::lock_guard<std::mutex> lock(seamMutex);
    seam() = std::move(s);
}

TallyPulseSessionSeam TallyPulseSessionSeam::current() {
    std::lock_guard<std::mutex> lock(seamMutex);
    return seam();
}
