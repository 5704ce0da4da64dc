#pragma once
// The one clock behind every timing rule of the session (start, pauses, ends, page views, event
// times); tests set it.
#include <functional>

#include "platform/base/Value.h"

class TallyClock {
public:
    static platform::Date now();
    // Empty puts the system clock back.
    static void setSource(std::function<platform::Date()> source);
};
