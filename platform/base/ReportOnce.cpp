#include "platform/base/ReportOnce.h"

#include <mutex>
#include <set>

namespace platform {

bool ReportOnce::first(std::string const& key) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    std::lock_guard<std::mutex> lock(mutex);
    return reported.insert(key).second;
}

}  // namespace platform
