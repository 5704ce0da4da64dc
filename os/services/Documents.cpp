#include "os/services/Documents.h"

#include <cstdlib>
#include <mutex>

#include "platform/base/Directories.h"

namespace {

struct Stored {
    std::mutex mutex;
    std::string path;
};

Stored& stored() {
    static Stored s;
    return s;
}

std::string withSlash(std::string path) {
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path;
}

}  // namespace

std::string defaultDocumentsPath() {
    if (char const* dir = std::getenv("ZELV_DOCUMENTS_DIR"); dir && *dir) {
        return withSlash(dir);
    }
    if (char const* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') {
        return withSlash(data) + "zelv/";
    }
    return withSlash(platform::Directories::home().string()) + ".local/share/zelv/";
}

char const* documentsPath() {
    Stored& s = stored();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.path.empty()) {
        s.path = defaultDocumentsPath();
    }
    return s.path.c_str();
}

void setDocumentsPath(std::string path) {
    Stored& s = stored();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.path = withSlash(std::move(path));
}
