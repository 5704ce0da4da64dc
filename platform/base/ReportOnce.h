#pragma once
// Problems met again and again (a damaged file read on every visit) are told once per run.
#include <string>

namespace platform {

class ReportOnce {
public:
    // True the first time this key is met in this run.
    static bool first(std::string const& key);
};

}  // namespace platform
