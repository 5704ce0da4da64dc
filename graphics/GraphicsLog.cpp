#include "graphics/GraphicsLog.h"

#include <cstdio>
#include <mutex>
#include <set>

namespace Graphics {

void logLine(std::string const& message) { std::fprintf(stderr, "Graphics: %s\n", message.c_str()); }

void logLineOnce(std::string const& key, std::string const& message) {
    static std::mutex mutex;
    static std::set<std::string> said;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!said.insert(key).second) return;
    }
    logLine(message);
}

}  // namespace Graphics
