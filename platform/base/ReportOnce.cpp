#include "platform/base/ReportOnce.h"

#include <mutex>
#include <set>

namespace platform {

bool ReportOnce::first(std::string const& key) {
    static std::mutex mutex;
    static auto* reported = new std::set<std::string>;  // background threads report until the process is gone
    std::lock_guard<std::mutex> lock(mutex);
    return reported->insert(key).second;
}

}  // namespace platform
