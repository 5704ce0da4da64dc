#pragma once
// Where the configuration and purchase code reach the analytics session, which is built
// elsewhere: the current session's start and end, and its
// recordEvent:withParameters:timed:transaction:. The session installs its own calls here; until
// then there is no session (no times, event status 0).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/Value.h"

class TallyTransaction;

struct TallyPulseSessionSeam {
    std::function<std::optional<platform::Date>()> currentSessionStartTime;
    std::function<std::optional<platform::Date>()> currentSessionEndTime;
    // Event status of the session's recordEvent:withParameters:timed:transaction:.
    std::function<int32_t(std::string const& name, platform::Value::Dict const& params, bool timed,
                          std::shared_ptr<TallyTransaction> const& transaction)>
        recordEvent;

    static void install(TallyPulseSessionSeam seam);
    static TallyPulseSessionSeam current();
};
