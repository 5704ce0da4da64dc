#include "analytics/delivery/TallyPulseClock.h"

#include <chrono>

#include "platform/base/SdkLoop.h"
#include "platform/base/Value.h"

double TallyPulseClock::now() {
    using namespace std::chrono;
    int64_t const steady = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    // On the real clock the loop reads the same steady time; on a virtual one the difference is
    // how far the test has moved it (less the real time that has passed meanwhile).
    int64_t const offset = platform::SdkLoop::shared().nowMs() - steady;
    return platform::Date::now().secondsSince1970 + double(offset) / 1000.0;
}
