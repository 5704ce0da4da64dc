#include "os/services/Documents.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

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

std::string homeFolder() {
    if (char const* home = std::getenv("HOME"); home && *home) {
        return home;
    }
    if (passwd const* pw = getpwuid(getuid()); pw && pw->pw_dir) {
        return pw->pw_dir;
    }
    return ".";
}

}  // namespace

std::string defaultDocumentsPath() {
    if (char const* dir = std::getenv("ZELV_DOCUMENTS_DIR"); dir && *dir) {
        return withSlash(dir);
    }
    if (char const* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') {
        return withSlash(data) + "zelv/";
    }
    return homeFolder() + "/.local/share/zelv/";
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
